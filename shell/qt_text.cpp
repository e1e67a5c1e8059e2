#include "qt_text.h"

#include <QFile>
#include <QFileInfo>

#include "korinbo/codepage.h"

namespace korinbo {

QString ToQString(std::string_view sjis) {
  QString text(static_cast<qsizetype>(sjis.size()), Qt::Uninitialized);
  text.truncate(static_cast<qsizetype>(Cp932ToUtf16Lossy(sjis, reinterpret_cast<char16_t*>(text.data()))));
  return text;
}

std::string ToSjis(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  if (auto sjis = Utf8ToCp932(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))) {
    return std::move(*sjis);
  }
  // The strict conversion refuses unmappable characters; the lossy one keeps the rest.
  const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()),
                                  static_cast<std::size_t>(text.size()));
  return Utf16ToCp932(units).value_or(std::string());
}

QString PathToQString(const std::filesystem::path& path) {
  const std::string& native = path.native();
  return QFile::decodeName(QByteArray(native.data(), static_cast<qsizetype>(native.size())));
}

std::filesystem::path PathFromQString(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  return std::filesystem::path(std::string(native.constData(), static_cast<std::size_t>(native.size())));
}

QString ProgramTitle(const QString& application_file_path) {
  QString name = QFileInfo(application_file_path).fileName();
  const qsizetype dot = name.indexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

}  // namespace korinbo
