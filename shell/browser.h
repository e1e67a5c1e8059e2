#pragma once
// Opening a headline's link: in the browser program the user chose, or in the desktop's default.
#include <optional>

#include <QFileInfo>
#include <QString>
#include <QUrl>

class QWidget;

namespace korinbo {

// Starts `program` with the link as its one argument and `working_directory` as its working
// directory, without a shell in between (so no link can run a command), and does not wait.
// False when it could not be started.
bool StartBrowser(const QString& program, const QString& link, const QString& working_directory);

// The link as a URL for the desktop's default browser; an empty URL when the text is no URL.
QUrl LinkUrl(const QString& link);

// What the browser dialog offers: folders, to walk through, and files the user may run.
bool OffersAsBrowser(const QFileInfo& entry);

// The file dialog for choosing a browser program; nullopt on Cancel.
std::optional<QString> AskForBrowserProgram(QWidget* parent);

}  // namespace korinbo
