#pragma once
// How downloads reach the web: the `UseProxy` setting's three modes.
#include <array>
#include <string_view>

#include "korinbo/keyword.h"

namespace korinbo {

// kOther: a text that is none of the three, with which no request is made.
enum class ProxyMode { kDirect, kPreconfig, kProxy, kOther };

constexpr std::array<std::string_view, 3> KeywordTexts(ProxyMode) { return {"DIRECT", "PRECONFIG", "PROXY"}; }

}  // namespace korinbo
