// The "File Reader" behind the FrmFinder window (mbxvane-file-reader): opens one file and
// reports every occurrence of a search text by its byte offset, one Find step at a time, with
// the window's warnings and its text surface.
//
// The matching rules are those of scanner::SeparatorSearch; a search text typed between double
// quotes (longer than 2) is searched without the quotes.
#pragma once

#include "desktop/desktop.h"
#include "reader/search_state.h"
#include "scanner/separator_search.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::reader {

// Where the reader's output goes: the desktop (beep, warning boxes), its own text surface, and
// the progress of a search (ProgressBar2, LblHappening).
class ReaderSink {
public:
    virtual ~ReaderSink() = default;

    virtual void beep() = 0;
    // A modal warning with an OK button. Titles: "File Reader", or "" for the refused open.
    virtual void warning(const std::string& text, desktop::Icon icon, const std::string& title) = 0;

    // The text surface. Texts carry their own line ends: "FILE SIZE : N bytes\r\n",
    // "Byte :N\r\n", the echo of the match and what follows it (no line end), and at the end of a
    // search "\n\r\n" (a line holding one LF) followed by "[EOF]\r\n".
    virtual void clearSurface() = 0;
    virtual void writeSurface(std::string_view text) = 0;
    // False when nobody can see the surface: the reader then skips the surface texts and the
    // echo reads altogether. Results are the same either way.
    virtual bool surfaceShown() const { return true; }

    // The progress value (0..100, ProgressBar2) and caption (LblHappening), set for every
    // reported match.
    virtual void setProgressBar2(int value) = 0;
    virtual void setLblHappening(const std::string& text) = 0;

    // Open_MBOX writes the file name into Text1; a window shows it there.
    virtual void setText1(const std::string& /*text*/) {}
    // "File not found !" moves the focus to Text1 (nothing happens when the window is hidden).
    virtual void focusText1() = 0;

    // Called between large blocks of a scan and between steps; the sink decides whether enough
    // time has passed to process window events. False means the program is ending: the reader
    // then ends the current search step at once as if nothing more were found (setting the
    // end-of-search flag), and every later step does the same until the next Open_MBOX.
    virtual bool yield() = 0;
};

class MailboxReader {
public:
    static constexpr std::size_t kDefaultBlockSize = 256 * 1024;

    // `blockSize` is the unit of file reads (tests use tiny blocks to cross block edges).
    MailboxReader(SearchState& state, ReaderSink& sink, std::size_t blockSize = kDefaultBlockSize);
    ~MailboxReader();
    MailboxReader(const MailboxReader&) = delete;
    MailboxReader& operator=(const MailboxReader&) = delete;

    // Inputs, as the window's controls hold them. Text2 is taken byte for byte (Windows-1252).
    std::string Text1;  // file name
    std::string Text2;  // search text as typed
    bool Check1 = true; // "Case Sensitive", initially checked

    // Makes `fmboxname` the open file: FoundCount 0; refuses ("Close current file before open a
    // file!") while a file is open; otherwise measures and opens it and sets Text1.
    void Open_MBOX(const std::string& fmboxname);
    // The Find button: opens the file named in Text1 when none is open, then searches from 0.
    void Find_Click();
    // Searches on from just after the last match; only beeps when there is none.
    void FindNext_Click();
    // Closes the open file (no effect when none is open).
    void CloseFile();
    // The window's close action: beeps when no file is open, otherwise CloseFile.
    void Close_Click();

    // Reader state (read-only views).
    int FileNo() const { return fileNo_; }
    const std::string& FilePath() const { return filePath_; }
    std::uint64_t FileSize() const { return fileSize_; }
    std::int64_t ReadPos() const { return readPos_; }
    std::int64_t MatchPos() const { return matchPos_; }
    const std::string& SearchStr() const { return searchStr_; }
    std::int64_t SearchLen() const { return searchLen_; }
    bool MatchFlag() const { return matchFlag_; }
    std::int64_t FoundCount() const { return foundCount_; }

private:
    void OpenFile();
    void SearchString();
    void GetString();
    void ScanString();
    void ShowString();
    void writeFileSizeLine();
    void endSearchOnFailure();
    bool yieldToSink();

    SearchState& state_;
    ReaderSink* sink_;
    scanner::SeparatorSearch search_;

    int fileNo_ = 0;
    std::string filePath_;
    std::uint64_t fileSize_ = 0;
    std::int64_t readPos_ = 0;
    std::int64_t matchPos_ = 0;
    std::string searchStr_;
    std::int64_t searchLen_ = 0;
    bool matchFlag_ = false;
    std::int64_t foundCount_ = 0;
    bool stopRequested_ = false;
};

} // namespace mbx::reader
