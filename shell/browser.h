#pragma once
// Opening a headline's link: in the browser program the user chose, or in the desktop's default.
#include <optional>

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace korinbo {

// What opens a link in the browser the user chose.
struct BrowserCommand {
  QString program;
  QStringList arguments;
};

// The browser command `exec_name` with the link: a command that names an existing file as a whole
// (relative to `working_directory`, blanks and all) is that program; any other is split into words
// as a POSIX shell splits a command line, but with no expansion of any kind: blanks separate words,
// quotes group ('...' keeps everything, "..." all but a backslash before $ ` " \ or a line end), a
// backslash outside quotes keeps the next character, "" is an empty word and a word starting with
// # begins a comment. The link is always one more argument, as it is. nullopt when there is
// nothing to start: no words, or a quote or a backslash left open at the end.
std::optional<BrowserCommand> BrowserCommandFor(const QString& exec_name, const QString& link,
                                                const QString& working_directory);

// Starts the browser command (above) with `working_directory` as its working directory, without a
// shell in between (so no link can run a command), and does not wait. False when nothing started.
bool StartBrowser(const QString& exec_name, const QString& link, const QString& working_directory);

// The link as a URL for the desktop's default browser; an empty URL when the text is no URL.
QUrl LinkUrl(const QString& link);

// What the browser dialog offers: folders, to walk through, and files the user may run.
bool OffersAsBrowser(const QFileInfo& entry);

// The file dialog for choosing a browser program; nullopt on Cancel.
std::optional<QString> AskForBrowserProgram(QWidget* parent);

}  // namespace korinbo
