// Runs a conversion for the main window: takes a snapshot of the list and the format when
// Convert is pressed, and maps the engine's progress onto the window's labels and bars. Values
// are stored as they come and painted when the run yields, so a fast run is not slowed by
// repaints while the window always ends on the exact final values.
#pragma once

#include "app/progress_view.h"
#include "convert/conversion_run.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mbx::app {

class frmStep1;

class ConversionController : public QObject, public ProgressView {
    Q_OBJECT
public:
    explicit ConversionController(frmStep1& window);
    ~ConversionController() override;

    // The selected format, or None.
    convert::Format selectedFormat() const;

    // Called with every status line as the run reports it, before it is painted (tests close
    // the window at a chosen point through it).
    std::function<void(StatusLine, const std::string&)> onStatus;
    // Engine options of the runs started from now on.
    convert::RunOptions runOptions;

public slots:
    // The run's outcome, or nothing when a run was already under way.
    std::optional<convert::RunOutcome> CmdConvert_Click();

private:
    // ProgressView
    void runStarted() override;
    void showRow(int row) override;
    void showStatus(StatusLine line, const std::string& text) override;
    void showSearchStarted() override;
    void showSearchPercent(int percent) override;
    void showBytes(std::uint64_t soFar, std::uint64_t total) override;
    void showListPercent(float percent) override;
    void runEnded() override;
    bool yield() override;

    void paintPending();

    frmStep1& window_;
    bool running_ = false;

    struct Pending {
        std::optional<std::string> labels[5];
        std::optional<std::pair<std::uint64_t, std::uint64_t>> byteUpdate;
        std::optional<float> bar[2];
        std::optional<int> row;
    } pending_;
};

} // namespace mbx::app
