#pragma once

// Keeps the text Daubly copied on the clipboard after Daubly quits. On X11 a selection
// lives only as long as its owner, so a quitting owner has to hand it on: to the
// clipboard manager where one runs (the owner of CLIPBOARD_MANAGER; Qt's X11 clipboard
// asks it to SAVE_TARGETS when the application object goes), else to a small process
// of its own, `daubly --keep-clipboard TEXT`, which owns the CLIPBOARD selection,
// serves that one text and exits as soon as another client takes the clipboard (or
// the display goes).

#include <QByteArray>
#include <QString>
#include <chrono>

namespace X11ClipboardKeeper {

// The hidden option that starts the keeper process.
inline constexpr const char* keepOption = "--keep-clipboard";

// Called while Daubly quits, on the main thread. Does nothing unless this process owns
// the clipboard with text. Waits (at most `handOverTimeout`) until the keeper owns it.
void keepAfterExit(std::chrono::milliseconds handOverTimeout = std::chrono::milliseconds(2000));

// The keeper process: serves `text` as CLIPBOARD until another client takes it.
// Answers the exit status.
int serve(const QByteArray& text);

} // namespace X11ClipboardKeeper
