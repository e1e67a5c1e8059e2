// The encode value a downloaded page suits: declared by the server, by the page, or by its bytes.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "korinbo/codepage.h"
#include "korinbo/convert.h"

namespace korinbo {
namespace {

using Source = EncodeGuess::Source;

struct Case {
  const char* what;
  std::string page;
  std::string content_type;
  std::optional<std::string> encode;
  Source source = Source::kBytes;
  std::string charset;
};

TEST(GuessEncode, TakesTheHeaderThenTheMetaThenTheBytes) {
  const std::
      string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xAE\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82"
                        "\xB9";  // 日本のニュース
  const std::string utf8_page = "<html><body><p>" + japanese + japanese + japanese + "</p></body></html>";
  const std::string sjis_page = "<html><body><p>" +
                                Sjis("日本のニュース、今日の天気と経済の話題をお届けします。") +
                                "</p></body></html>";
  // The same sentence in EUC-JP and in ISO-2022-JP.
  const std::string euc_text =
      "\xC6\xFC\xCB\xDC\xA4\xCE\xA5\xCB\xA5\xE5\xA1\xBC\xA5\xB9\xA1\xA2\xBA\xA3\xC6\xFC\xA4\xCE\xC5\xB7\xB5"
      "\xA4"
      "\xA4\xC8\xB7\xD0\xBA\xD1\xA4\xCE\xCF\xC3\xC2\xEA\xA4\xF2\xA4\xAA\xC6\xCF\xA4\xB1\xA4\xB7\xA4\xDE\xA4"
      "\xB9";
  const std::string euc_page = "<html><body><p>" + euc_text + euc_text + "</p></body></html>";
  const std::string jis_page = "<p>\x1B$BF|K\\$N%K%e!<%9!\":#F|$NE75$$H7P:Q$NOCBj$r$*FO$1$7$^$9\x1B(B</p>";
  const Case cases[] = {
      {"header", sjis_page, "text/html; charset=EUC-JP", "euc", Source::kHeader, "EUC-JP"},
      {"header, quoted", sjis_page, "text/html;charset=\"utf-8\"", "utf8", Source::kHeader, "utf-8"},
      {"header, Windows name", utf8_page, "text/html; charset=Windows-31J", "", Source::kHeader,
       "Windows-31J"},
      {"header without charset: the meta", "<meta charset=\"ISO-2022-JP\">" + jis_page, "text/html", "jis",
       Source::kMeta, "ISO-2022-JP"},
      {"header of another charset: the meta", "<META charset=Shift_JIS>" + sjis_page,
       "text/html; charset=iso-8859-1", "", Source::kMeta, "Shift_JIS"},
      {"http-equiv",
       "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=x-euc-jp\"></head>" + euc_page,
       "", "euc", Source::kMeta, "x-euc-jp"},
      {"a charset outside a meta tag does not count", "<p>charset=utf-8</p>" + utf8_page, "", "utf8",
       Source::kBytes, "UTF-8"},
      {"bytes: UTF-8", utf8_page, "", "utf8", Source::kBytes, "UTF-8"},
      {"bytes: EUC-JP", euc_page, "", "euc", Source::kBytes, "EUC-JP"},
      {"bytes: ISO-2022-JP", jis_page + jis_page, "", "jis", Source::kBytes, "ISO-2022-JP"},
      {"bytes: Shift_JIS is what a page is taken as anyway", sjis_page, "", std::nullopt, Source::kBytes, ""},
      {"bytes: ASCII says nothing", "<html><body>news</body></html>", "", std::nullopt, Source::kBytes, ""},
      {"nothing at all", "", "", std::nullopt, Source::kBytes, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto guess = GuessEncode(c.page, c.content_type);
    ASSERT_EQ(guess.has_value(), c.encode.has_value());
    if (!guess) continue;
    EXPECT_EQ(guess->encode, *c.encode);
    EXPECT_EQ(guess->source, c.source);
    EXPECT_EQ(guess->charset, c.charset);
  }
}

}  // namespace
}  // namespace korinbo
