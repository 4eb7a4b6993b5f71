#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Turns a description page from the network into a small, well-formed document that the
// text viewer lays out quickly. The viewer's layout time grows with the square of some
// shapes (pictures in one line, very long words) and doubles with each level of nested
// tables, and its layout recurses per level: so the page is parsed into a tree by a real
// HTML parser, only the elements and attributes the viewer supports are kept, and what
// lies beyond the bounds below is flattened to its text. A page with more tags than the
// parser may see is not shown at all (the parser itself slows down with the square of
// the nesting depth).
class TPageSanitizer
{
public:
    static constexpr std::size_t kMaxTags = 4000;
    static constexpr int kMaxDepth = 20;
    static constexpr int kMaxTableDepth = 3;
    static constexpr int kMaxTableColumns = 32;
    static constexpr int kMaxTableCells = 800;
    static constexpr int kMaxPictures = 40;
    static constexpr std::size_t kMaxWordBytes = 64;
    static constexpr std::size_t kMaxTextBytes = 128 * 1024;
    static constexpr std::size_t kMaxAttributeBytes = 2048;
    static constexpr int kMaxPictureSide = 2000;

    struct Result
    {
        // UTF-8 HTML: <html><body>...</body></html>, every element closed.
        std::string html;
        // The page had more tags than kMaxTags: html holds only a line saying so.
        bool tooComplex = false;
        // Text was cut at kMaxTextBytes.
        bool truncated = false;
    };

    // page is UTF-8 (invalid sequences are passed through as text the viewer replaces).
    static Result sanitize(std::string_view page);

    static constexpr std::string_view kTooComplex = "This page is too complex to show.";
    static constexpr std::string_view kTruncated = "The rest of this page is too long to show.";
};
