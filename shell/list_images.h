#pragma once
// The headline list's three small images: new, unread and read.
#include <array>
#include <filesystem>

#include <QPixmap>

namespace korinbo {

inline constexpr int kListImageSize = 16;
using ListImages = std::array<QPixmap, 3>;

// Drawn for this program: a filled star (new), a hollow ring (unread) and a check mark (read),
// told apart by shape alone, so also in greyscale.
ListImages BuiltInListImages();

// The built-in images, each replaced by "new.ico", "unread.ico" or "read.ico" of the folder where
// that file exists and holds an image; a file that is no image keeps the built-in one.
ListImages LoadListImages(const std::filesystem::path& folder);

}  // namespace korinbo
