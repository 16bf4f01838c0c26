#include "app/conversion_controller.h"

#include "app/frm_step1.h"
#include "app/window_constants.h"
#include "convert/store_target.h"
#include "selection/mailbox_list.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <cmath>
#include <type_traits>
#include <variant>

namespace mbx::app {

using convert::Format;

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

ConversionController::ConversionController(frmStep1& window) : window_(window) {
    connect(&window_, &frmStep1::convertRequested, this, &ConversionController::CmdConvert_Click);
    connect(&window_, &frmStep1::closeRequested, this, &ConversionController::stopRun);
}

ConversionController::~ConversionController() {
    stopRun();
}

Format ConversionController::selectedFormat() const {
    if (window_.OptEML->isChecked()) {
        return Format::Eml;
    }
    if (window_.OptPST->isChecked()) {
        return Format::Pst;
    }
    if (window_.OptEMLX->isChecked()) {
        return Format::Emlx;
    }
    if (window_.OptMSG->isChecked()) {
        return Format::Msg;
    }
    return Format::None;
}

void ConversionController::CmdConvert_Click() {
    // Convert is disabled while a run is under way; a click queued before that finds it running.
    if (running()) {
        return;
    }
    lastOutcome_.reset();
    // A cleared list still leaves Convert enabled: say there is nothing to convert, and stop.
    if (window_.mailboxList().isEmpty()) {
        window_.desktop().messageBox(desktop::kAppTitle, kEmptyListText, desktop::Icon::Information,
                                     desktop::Buttons::Ok);
        emit runFinished();
        return;
    }
    // The run works on what the window holds now; changes made while it runs do not derail it.
    const convert::RunRequest request{window_.mailboxList().rows(), selectedFormat(), {}};
    run_ = std::make_unique<convert::ConversionRun>(window_.desktop(), *this, nullptr, runOptions);
    convert::RunOutcome outcome{};
    const auto outputRoot = run_->begin(request, outcome);
    if (!outputRoot) {
        lastOutcome_ = outcome;
        emit runFinished();
        return;
    }
    runStarted();
    thread_ = std::make_unique<ConversionThread>(request, *outputRoot, runOptions);
    if (afterMessage) {
        thread_->afterMessage = [this, thread = thread_.get()](const convert::MessageDone& e) {
            afterMessage(*thread, e);
        };
    }
    connect(thread_.get(), &ConversionThread::progressed, this, &ConversionController::apply);
    connect(thread_.get(), &QThread::finished, this, &ConversionController::threadFinished);
    thread_->start();
}

void ConversionController::apply(const ProgressBatch& events) {
    for (const auto& event : events) {
        if (const auto* problem = std::get_if<MailboxProblem>(&event)) {
            paintPending();
            if (!window_.closing()) {
                convert::showMailboxProblem(window_.desktop(), problem->problem, problem->size);
            }
            if (thread_) {
                thread_->problemShown();
            }
            continue;
        }
        std::visit(
            [this](const auto& e) {
                using Event = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<Event, convert::MailboxStarted>) {
                    mailboxStarted(e);
                } else if constexpr (std::is_same_v<Event, SearchStarted>) {
                    searchStarted();
                } else if constexpr (std::is_same_v<Event, convert::SearchProgress>) {
                    searchProgress(e);
                } else if constexpr (std::is_same_v<Event, convert::MessagesFound>) {
                    messagesFound(e);
                } else if constexpr (std::is_same_v<Event, convert::BytesRead>) {
                    bytesRead(e);
                } else if constexpr (std::is_same_v<Event, convert::MessageDone>) {
                    messageDone(e);
                } else if constexpr (std::is_same_v<Event, convert::MailboxFinished>) {
                    mailboxFinished(e);
                }
            },
            event);
    }
    paintPending();
}

void ConversionController::threadFinished() {
    if (!thread_) {
        return;
    }
    auto result = thread_->result();
    thread_.reset();
    if (window_.closing()) {
        lastOutcome_ = convert::RunOutcome::Ending;
    } else {
        lastOutcome_ = run_->end(std::move(result));
        paintPending();
    }
    emit runFinished();
}

void ConversionController::stopRun() {
    if (thread_) {
        thread_->requestStop();
        thread_->wait();
    }
}

// The one place where the run's progress meets the window's controls.

void ConversionController::runStarted() {
    paintPending();
    window_.CmdConvert->setEnabled(false);
    window_.ProgressBar1->setRange(0, 100);
}

void ConversionController::showRow(int row) {
    pending_.row = row;
}

void ConversionController::showStatus(StatusLine line, const std::string& text) {
    pending_.labels[static_cast<int>(line)] = text;
}

void ConversionController::showSearchStarted() {
    paintPending();
    window_.ProgressBar2->setRange(0, 100);
}

void ConversionController::showSearchPercent(int percent) {
    pending_.bar[1] = static_cast<float>(percent);
}

void ConversionController::showBytes(std::uint64_t soFar, std::uint64_t total) {
    pending_.byteUpdate = {soFar, total};
}

void ConversionController::showListPercent(float percent) {
    pending_.bar[0] = percent;
}

void ConversionController::runEnded() {
    paintPending();
    window_.CmdConvert->setEnabled(true);
    // Unselect all four; an exclusive group would keep one checked.
    for (QRadioButton* option : {window_.OptEML, window_.OptEMLX, window_.OptPST, window_.OptMSG}) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
}

void ConversionController::paintPending() {
    // In the order of StatusLine.
    QLabel* labels[] = {window_.LblHappening, window_.LblProgessCurrent, window_.LblIMMFile,
                        window_.LblEmlsFound, window_.LblProgress};
    for (int i = 0; i < 5; ++i) {
        if (pending_.labels[i]) {
            labels[i]->setText(q(*pending_.labels[i]));
            pending_.labels[i].reset();
        }
    }
    if (pending_.byteUpdate) {
        window_.LblByteUpdate->setText(QStringLiteral("Saving: %1 Bytes out of %2 Total Bytes.")
                                           .arg(pending_.byteUpdate->first)
                                           .arg(pending_.byteUpdate->second));
        pending_.byteUpdate.reset();
    }
    QProgressBar* bars[] = {window_.ProgressBar1, window_.ProgressBar2};
    for (int i = 0; i < 2; ++i) {
        if (pending_.bar[i]) {
            bars[i]->setValue(static_cast<int>(std::lround(*pending_.bar[i])));
            pending_.bar[i].reset();
        }
    }
    if (pending_.row) {
        window_.grdFiles1->setCurrentCell(*pending_.row, 0);
        pending_.row.reset();
    }
}

} // namespace mbx::app
