// Runs a conversion for the main window: takes a snapshot of the list and the format when
// Convert is pressed, and shows the run's values in the window's labels and bars. Values are
// stored as they come and painted when the run yields, so a fast run is not slowed by repaints
// while the window always ends on the exact final values.
#pragma once

#include "convert/conversion_run.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace mbx::scanner {
class FrmFinder;
}

namespace mbx::app {

class frmStep1;

class ConversionController : public QObject, public convert::RunView {
    Q_OBJECT
public:
    explicit ConversionController(frmStep1& window);
    ~ConversionController() override;

    // The selected format, or None.
    convert::Format selectedFormat() const;
    // The reader window, created on first use and never shown.
    scanner::FrmFinder& finder();

public slots:
    // The run's outcome, or nothing when a run was already under way.
    std::optional<convert::RunOutcome> CmdConvert_Click();

private:
    // RunView
    void setLabel(convert::Label label, const std::string& text) override;
    void setByteUpdate(std::uint64_t soFar, std::uint64_t total) override;
    void setBarRange(convert::Bar bar, int minimum, int maximum) override;
    void setBarValue(convert::Bar bar, float value) override;
    void setCurrentRow(int row) override;
    void setConvertEnabled(bool enabled) override;
    void clearFormats() override;
    bool yield() override;

    void paintPending();

    frmStep1& window_;
    std::unique_ptr<scanner::FrmFinder> finder_;
    bool running_ = false;

    struct Pending {
        std::optional<std::string> labels[5];
        std::optional<std::pair<std::uint64_t, std::uint64_t>> byteUpdate;
        std::optional<float> bar[2];
        std::optional<int> row;
    } pending_;
};

} // namespace mbx::app
