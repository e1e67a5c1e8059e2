// The code page layer over glibc's iconv. UTF-16 to CP932 goes through a table that iconv fills
// once, so that converting a page costs one lookup per character.
#include "korinbo/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <memory>
#include <stdexcept>

#include "convert/cp932_table.h"

namespace korinbo {
namespace {

// One iconv conversion descriptor, move-only.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; returns false at a sequence it cannot convert, with `in` left at
  // that sequence. Output is appended to `out`.
  bool Convert(std::string_view& in, std::string& out) {
    char* in_ptr = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    bool converted = true;
    while (in_left > 0) {
      char buffer[4096];
      char* out_ptr = buffer;
      std::size_t out_left = sizeof buffer;
      const std::size_t result = iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
      out.append(buffer, sizeof buffer - out_left);
      if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
        converted = false;
        break;
      }
    }
    if (converted) {
      char buffer[64];
      char* out_ptr = buffer;
      std::size_t out_left = sizeof buffer;
      iconv(cd_, nullptr, nullptr, &out_ptr, &out_left);
      out.append(buffer, sizeof buffer - out_left);
    } else {
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    in = std::string_view(in_ptr, in_left);
    return converted;
  }

 private:
  iconv_t cd_;
};

std::optional<std::string> ConvertStrictly(std::string_view text, const char* to, const char* from) {
  Iconv converter(to, from);
  if (!converter.ok()) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 2);
  if (!converter.Convert(text, out)) return std::nullopt;
  return out;
}

}  // namespace

const Cp932Table* Cp932Table::Get() {
  static const std::unique_ptr<Cp932Table> table = []() -> std::unique_ptr<Cp932Table> {
    Iconv converter("CP932", "UTF-16LE");
    if (!converter.ok()) return nullptr;
    auto t = std::make_unique<Cp932Table>();
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
      t->codes[unit] = kNoMapping;
      if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // a lone surrogate has no character
      const char bytes[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
      std::string_view in(bytes, 2);
      std::string out;
      if (!converter.Convert(in, out) || out.empty() || out.size() > 2) continue;
      t->codes[unit] = out.size() == 1
                           ? static_cast<std::uint16_t>(static_cast<unsigned char>(out[0]))
                           : static_cast<std::uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                                        static_cast<unsigned char>(out[1]));
    }
    return t;
  }();
  return table.get();
}

std::optional<std::string> Utf16ToCp932(std::u16string_view units) {
  const Cp932Table* table = Cp932Table::Get();
  if (table == nullptr) return std::nullopt;
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t unit : units) table->Append(unit, out);
  return out;
}

std::optional<std::string> Cp932ToUtf8(std::string_view sjis) { return ConvertStrictly(sjis, "UTF-8", "CP932"); }

std::optional<std::string> Utf8ToCp932(std::string_view utf8) { return ConvertStrictly(utf8, "CP932", "UTF-8"); }

std::string Cp932ToUtf8Lossy(std::string_view sjis) {
  Iconv converter("UTF-8", "CP932");
  std::string out;
  if (!converter.ok()) return out;
  out.reserve(sjis.size() * 3 / 2);
  while (!converter.Convert(sjis, out)) {
    out += "\xEF\xBF\xBD";  // U+FFFD for the byte that is no CP932
    sjis.remove_prefix(1);
  }
  return out;
}

std::string Sjis(std::string_view utf8) {
  auto sjis = Utf8ToCp932(utf8);
  if (!sjis) throw std::logic_error("a text of the program that CP932 cannot hold: " + std::string(utf8));
  return std::move(*sjis);
}

}  // namespace korinbo
