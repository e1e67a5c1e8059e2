// EucToSjis, JisToSjis and Utf8ToSjis on 50 MB of Japanese news text, side by side with nkf and
// iconv converting the same files.
#include <iconv.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

#include "bench_support.h"
#include "korinbo/codepage.h"
#include "korinbo/convert.h"

namespace {

constexpr std::size_t kSize = std::size_t{50} << 20;

// Headlines and article text as news sites write them: kanji, kana, full-width digits and signs,
// ASCII tags and line ends.
const char* const kCorpus[] = {
    "<li><a href=\"/news/20261208/k10014.html\">政府、来年度予算案を閣議決定　一般会計は過去最大の１１５兆円</a></li>\r\n",
    "<p>気象庁によりますと、強い冬型の気圧配置の影響で、日本海側を中心に大雪となっています。</p>\r\n",
    "<li><a href=\"/economy/market.html\">日経平均株価、終値は３万９８００円台　半導体関連に買い戻し</a></li>\r\n",
    "<p>専門家は「今後も警戒が必要だ」と話していて、不要不急の外出を控えるよう呼びかけています。</p>\r\n",
    "<li><a href=\"/sports/baseball.html\">プロ野球　ＦＡ宣言の内野手が新天地での抱負を語る【動画】</a></li>\r\n",
    "<p>国土交通省は、年末年始の帰省ラッシュに備えて、高速道路の渋滞予測を発表しました。</p>\r\n",
};

struct Inputs {
  std::string sjis, euc, jis, utf8;
  std::string euc_file, jis_file, utf8_file;
};

std::string Iconv(const std::string& text, const char* to) {
  iconv_t cd = iconv_open(to, "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
  std::string out(text.size() * 2 + 16, '\0');
  char* in_ptr = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("iconv");
  }
  iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

std::string WriteTemp(const std::string& bytes, const char* suffix) {
  std::string name = "/tmp/korinbo-bench-" + std::to_string(getpid()) + suffix;
  std::ofstream(name, std::ios::binary) << bytes;
  return name;
}

Inputs& TheInputs() {
  static Inputs inputs = [] {
    Inputs in;
    std::string block;
    for (const char* line : kCorpus) block += korinbo::Sjis(line);
    while (in.sjis.size() < kSize) in.sjis += block;
    in.euc = Iconv(in.sjis, "EUC-JP");
    in.jis = Iconv(in.sjis, "ISO-2022-JP");
    in.utf8 = Iconv(in.sjis, "UTF-8");
    in.euc_file = WriteTemp(in.euc, ".euc");
    in.jis_file = WriteTemp(in.jis, ".jis");
    in.utf8_file = WriteTemp(in.utf8, ".utf8");
    if (korinbo::EucToSjis(in.euc) != in.sjis || korinbo::JisToSjis(in.jis) != in.sjis ||
        korinbo::Utf8ToSjis(in.utf8) != in.sjis) {
      throw std::runtime_error("a conversion does not give the Shift_JIS text back");
    }
    return in;
  }();
  return inputs;
}

std::int64_t Bytes(const benchmark::State& state, std::size_t size) {
  return static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size);
}

void Ours(benchmark::State& state, std::string (*convert)(std::string_view), const std::string* input) {
  for (auto _ : state) {
    std::string out = convert(*input);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(Bytes(state, input->size()));
}

void Outside(benchmark::State& state, std::string command, std::size_t size) {
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
  }
  state.SetBytesProcessed(Bytes(state, size));
}

void Register() {
  const Inputs& in = TheInputs();
  struct Conversion {
    const char* name;
    std::string (*convert)(std::string_view);
    const std::string* input;
    const std::string* file;
    const char* nkf;
    const char* iconv_from;
  };
  const Conversion conversions[] = {
      {"EucToSjis", korinbo::EucToSjis, &in.euc, &in.euc_file, "nkf -E -s", "EUC-JP"},
      {"JisToSjis", korinbo::JisToSjis, &in.jis, &in.jis_file, "nkf -J -s", "ISO-2022-JP"},
      {"Utf8ToSjis", korinbo::Utf8ToSjis, &in.utf8, &in.utf8_file, "nkf -W -s", "UTF-8"},
  };
  for (const auto& c : conversions) {
    benchmark::RegisterBenchmark(c.name, Ours, c.convert, c.input)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark((std::string("nkf/") + c.name).c_str(), Outside,
                                 std::string(c.nkf) + " " + *c.file + " >/dev/null", c.input->size())
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
    benchmark::RegisterBenchmark((std::string("iconv/") + c.name).c_str(), Outside,
                                 std::string("iconv -f ") + c.iconv_from + " -t CP932 " + *c.file + " >/dev/null",
                                 c.input->size())
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  const int status = korinbo::bench::RunAndReport(
      argc, argv,
      {{"EucToSjis/real_time", "nkf/EucToSjis/iterations:3/real_time", 1.0},
       {"EucToSjis/real_time", "iconv/EucToSjis/iterations:3/real_time", 1.0},
       {"JisToSjis/real_time", "nkf/JisToSjis/iterations:3/real_time", 1.0},
       {"JisToSjis/real_time", "iconv/JisToSjis/iterations:3/real_time", 1.0},
       {"Utf8ToSjis/real_time", "nkf/Utf8ToSjis/iterations:3/real_time", 1.0},
       {"Utf8ToSjis/real_time", "iconv/Utf8ToSjis/iterations:3/real_time", 1.0}});
  const Inputs& in = TheInputs();
  for (const std::string* file : {&in.euc_file, &in.jis_file, &in.utf8_file}) std::remove(file->c_str());
  return status;
}
