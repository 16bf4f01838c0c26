// Runs a conversion for the main window: takes a snapshot of the list and the format when
// Convert is pressed, asks for the output folder, runs the engine on a ConversionThread and maps
// its events onto the window's labels and bars as they arrive (each batch painted once), then
// shows the closing box. Closing the window stops the run and waits for it: the file of the
// message being written is removed and an open data file is completed.
#pragma once

#include "app/conversion_thread.h"
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
    // Whether a run is under way.
    bool running() const { return thread_ != nullptr; }
    // The outcome of the last Convert press, once runFinished() has been emitted; none when the
    // list held no mailbox.
    std::optional<convert::RunOutcome> lastOutcome() const { return lastOutcome_; }

    // Engine options of the runs started from now on.
    convert::RunOptions runOptions;
    // Test seam: handed to each run's thread (see ConversionThread::afterMessage).
    std::function<void(ConversionThread&, const convert::MessageDone&)> afterMessage;

public slots:
    void CmdConvert_Click();

signals:
    // A Convert press is dealt with: no run was started, or the run and its closing box are over.
    void runFinished();

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

    void apply(const ProgressBatch& events);
    void threadFinished();
    void stopRun();
    void paintPending();

    frmStep1& window_;
    std::unique_ptr<convert::ConversionRun> run_;
    std::unique_ptr<ConversionThread> thread_;
    std::optional<convert::RunOutcome> lastOutcome_;

    struct Pending {
        std::optional<std::string> labels[5];
        std::optional<std::pair<std::uint64_t, std::uint64_t>> byteUpdate;
        std::optional<float> bar[2];
        std::optional<int> row;
    } pending_;
};

} // namespace mbx::app
