// What of a description page reaches the viewer: supported elements and checked
// attributes only, everything closed, and what lies beyond the bounds as text.
#include "tpagesanitizer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string body(const std::string &page)
{
    const std::string html = TPageSanitizer::sanitize(page).html;
    const std::string open = "<html><body>";
    const std::string close = "</body></html>";
    EXPECT_EQ(html.substr(0, open.size()), open);
    EXPECT_EQ(html.substr(html.size() - close.size()), close);
    return html.substr(open.size(), html.size() - open.size() - close.size());
}

std::string repeated(const std::string &text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(PageSanitizer, KeepsWhatTheViewerSupportsAndNothingElse)
{
    struct Case
    {
        const char *name;
        std::string page;
        std::string shown;
    };
    const Case cases[] = {
        {"text and inline elements", "<p>Pipes &amp; <b>bricks</b> <i>x</i></p>",
         "<p>Pipes &amp; <b>bricks</b> <i>x</i></p>"},
        {"unclosed elements are closed", "<ul><li>one<li>two", "<ul><li>one</li><li>two</li></ul>"},
        {"scripts, styles and the head go with their content",
         "<head><title>T</title><style>p{}</style></head><p>a<script>alert(1)</script>b</p>",
         "<p>ab</p>"},
        {"unknown elements leave their content", "<p><blink>on</blink> <custom>off</custom></p>",
         "<p>on off</p>"},
        {"sections become plain blocks", "<section>s</section><pre>  p</pre>",
         "<div>s</div><div>  p</div>"},
        {"attributes beyond the list go",
         "<p align=center style=\"width:99999px\" onclick=\"x()\" class=c>t</p>",
         "<p align=\"center\">t</p>"},
        {"a link keeps its address, quoted", "<a href='x\"y' target=_blank>l</a>",
         "<a href=\"x&quot;y\">l</a>"},
        {"colours only as words or #digits",
         "<font color=red size=+2>a</font><font color=\"red;background:url(x)\">b</font>",
         "<font color=\"red\" size=\"+2\">a</font><font>b</font>"},
        {"picture sizes within bounds (and at least 1)",
         "<img src=a.gif width=99999 height=0 alt=box onerror=x()>",
         "<img src=\"a.gif\" width=\"2000\" height=\"1\" alt=\"box\">"},
        {"a picture without a source goes", "<p>a<img>b</p>", "<p>ab</p>"},
        {"spans within the column bound (and at least 1)",
         "<table border=999><tr><td colspan=3 rowspan=0>a<td>b</table>",
         "<table border=\"20\"><tbody><tr><td colspan=\"3\" rowspan=\"1\">a</td><td>b</td></tr>"
         "</tbody></table>"},
        {"a table wider than the bound becomes its text",
         "<table><tr>" + repeated("<td>c", TPageSanitizer::kMaxTableColumns + 1) + "</table>",
         repeated("c ", TPageSanitizer::kMaxTableColumns + 1)},
        {"tables nested beyond the bound become their text",
         repeated("<table><tr><td>x", TPageSanitizer::kMaxTableDepth + 2),
         repeated("<table><tbody><tr><td>x", TPageSanitizer::kMaxTableDepth) + " x x " +
             repeated("</td></tr></tbody></table>", TPageSanitizer::kMaxTableDepth)},
        {"a long word gets places to break",
         "<p>" + std::string(TPageSanitizer::kMaxWordBytes + 1, 'w') + "</p>",
         "<p>" + std::string(TPageSanitizer::kMaxWordBytes, 'w') + "\xe2\x80\x8bw</p>"},
        {"never inside a character",
         "<p>" + std::string(TPageSanitizer::kMaxWordBytes - 1, 'w') + "\xc3\xa9\xc3\xa9</p>",
         "<p>" + std::string(TPageSanitizer::kMaxWordBytes - 1, 'w') +
             "\xc3\xa9\xe2\x80\x8b\xc3\xa9</p>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(body(c.page), c.shown);
    }
}

TEST(PageSanitizer, BoundsPicturesDepthTextAndTags)
{
    const std::string pictures =
        body("<p>" + repeated("<img src=a.gif>", TPageSanitizer::kMaxPictures + 5) + "</p>");
    std::size_t count = 0;
    for (std::size_t at = pictures.find("<img"); at != std::string::npos;
         at = pictures.find("<img", at + 1))
        ++count;
    EXPECT_EQ(count, std::size_t(TPageSanitizer::kMaxPictures));

    const std::string deep = body(repeated("<div>d", 100));
    EXPECT_EQ(deep.find(repeated("<div>d", TPageSanitizer::kMaxDepth) + " d d"), 0u);
    EXPECT_EQ(deep.find(repeated("<div>d", TPageSanitizer::kMaxDepth + 1)), std::string::npos);

    const TPageSanitizer::Result longText =
        TPageSanitizer::sanitize("<p>" + repeated("word ", TPageSanitizer::kMaxTextBytes));
    EXPECT_TRUE(longText.truncated);
    EXPECT_LT(longText.html.size(), TPageSanitizer::kMaxTextBytes + 200);
    EXPECT_NE(longText.html.find(TPageSanitizer::kTruncated), std::string::npos);

    EXPECT_FALSE(TPageSanitizer::sanitize(repeated("<b>", TPageSanitizer::kMaxTags)).tooComplex);
    const TPageSanitizer::Result many =
        TPageSanitizer::sanitize(repeated("<b>", TPageSanitizer::kMaxTags + 1));
    EXPECT_TRUE(many.tooComplex);
    EXPECT_EQ(many.html,
              "<html><body><p>" + std::string(TPageSanitizer::kTooComplex) + "</p></body></html>");
}

} // namespace
