#include "tpagesanitizer.h"

#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::string_view kWordBreak = "\xe2\x80\x8b"; // zero-width space

enum class Kind {
    Drop,        // the element and everything in it
    Transparent, // the element goes, its content stays
    Inline,
    Block,
    Void,
    Table,
    TablePart, // tbody, thead, tfoot, tr, td, th, caption: only inside a kept table
};

struct Rule
{
    Kind kind;
    const char *name; // the name written out (some elements become a div)
};

Rule ruleOf(const GumboNode *node)
{
    if (node->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return {Kind::Drop, nullptr};
    switch (node->v.element.tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_B:
    case GUMBO_TAG_BIG:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_FONT:
    case GUMBO_TAG_I:
    case GUMBO_TAG_S:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_SPAN:
    case GUMBO_TAG_STRIKE:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_TT:
    case GUMBO_TAG_U:
        return {Kind::Inline, gumbo_normalized_tagname(node->v.element.tag)};
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_P:
    case GUMBO_TAG_UL:
        return {Kind::Block, gumbo_normalized_tagname(node->v.element.tag)};
    // Kept as plain blocks: a pre would keep a long line from wrapping.
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
        return {Kind::Block, "div"};
    case GUMBO_TAG_BR:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
        return {Kind::Void, gumbo_normalized_tagname(node->v.element.tag)};
    case GUMBO_TAG_TABLE:
        return {Kind::Table, "table"};
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TR:
        return {Kind::TablePart, gumbo_normalized_tagname(node->v.element.tag)};
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_VIDEO:
        return {Kind::Drop, nullptr};
    default:
        return {Kind::Transparent, nullptr};
    }
}

bool isTag(const GumboNode *node, GumboTag tag)
{
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag;
}

const char *attribute(const GumboNode *node, const char *name)
{
    const GumboAttribute *a = gumbo_get_attribute(&node->v.element.attributes, name);
    return a ? a->value : nullptr;
}

bool allOf(std::string_view text, bool (*accept)(char))
{
    return std::all_of(text.begin(), text.end(), accept);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAlnumOrHash(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '#';
}

// A whole number from digits only, clamped to [low, high]; -1 when it is none.
int number(std::string_view text, int low, int high)
{
    if (text.empty() || text.size() > 9 || !allOf(text, isDigit))
        return -1;
    return std::clamp(std::stoi(std::string(text)), low, high);
}

bool oneOf(std::string_view value, std::initializer_list<std::string_view> allowed)
{
    for (std::string_view a : allowed) {
        if (value.size() == a.size() &&
            std::equal(value.begin(), value.end(), a.begin(),
                       [](char x, char y) { return (x | 0x20) == (y | 0x20); }))
            return true;
    }
    return false;
}

// Table sizes a kept table may have: wider or larger ones become their text.
bool tableFits(const GumboNode *table)
{
    int cells = 0;
    auto row = [&](const GumboNode *tr) {
        int columns = 0;
        const GumboVector &children = tr->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto *cell = static_cast<const GumboNode *>(children.data[i]);
            if (!isTag(cell, GUMBO_TAG_TD) && !isTag(cell, GUMBO_TAG_TH))
                continue;
            const char *span = attribute(cell, "colspan");
            const int spanned = span ? number(span, 1, TPageSanitizer::kMaxTableColumns) : 1;
            columns += std::max(spanned, 1);
            ++cells;
        }
        return columns <= TPageSanitizer::kMaxTableColumns;
    };
    const GumboVector &parts = table->v.element.children;
    for (unsigned i = 0; i < parts.length; ++i) {
        const auto *part = static_cast<const GumboNode *>(parts.data[i]);
        if (isTag(part, GUMBO_TAG_TR)) {
            if (!row(part))
                return false;
        } else if (isTag(part, GUMBO_TAG_TBODY) || isTag(part, GUMBO_TAG_THEAD) ||
                   isTag(part, GUMBO_TAG_TFOOT)) {
            const GumboVector &rows = part->v.element.children;
            for (unsigned j = 0; j < rows.length; ++j) {
                const auto *tr = static_cast<const GumboNode *>(rows.data[j]);
                if (isTag(tr, GUMBO_TAG_TR) && !row(tr))
                    return false;
            }
        }
        if (cells > TPageSanitizer::kMaxTableCells)
            return false;
    }
    return true;
}

class Writer
{
public:
    explicit Writer(TPageSanitizer::Result &result) : m_result(result) {}

    void run(const GumboNode *root);

private:
    struct Frame
    {
        const GumboNode *node;
        unsigned next = 0;
        const char *closeTag = nullptr; // written when the frame ends
        bool flattens = false;          // the frame started a flattened stretch
        bool table = false;
        bool block = false;
    };

    void enter(const GumboNode *node);
    void leave(const Frame &frame);
    void text(std::string_view text);
    void boundary();
    void openTag(const char *name, const GumboNode *node);
    void writeAttribute(const char *name, std::string_view value);
    void picture(const GumboNode *node);
    bool flattened() const { return m_flat > 0; }

    TPageSanitizer::Result &m_result;
    std::string &out() { return m_result.html; }
    std::vector<Frame> m_stack;
    int m_depth = 0;
    int m_tableDepth = 0;
    int m_flat = 0;
    int m_pictures = 0;
    std::size_t m_word = 0;
    std::size_t m_textBytes = 0;
    bool m_full = false;
};

void Writer::run(const GumboNode *root)
{
    m_stack.push_back(Frame{root});
    while (!m_stack.empty() && !m_full) {
        Frame &top = m_stack.back();
        const GumboVector *children = top.node->type == GUMBO_NODE_DOCUMENT
                                          ? &top.node->v.document.children
                                          : &top.node->v.element.children;
        if (top.next >= children->length) {
            const Frame done = top;
            m_stack.pop_back();
            leave(done);
            continue;
        }
        enter(static_cast<const GumboNode *>(children->data[top.next++]));
    }
    // Cut short: whatever is still open is closed, in order.
    while (!m_stack.empty()) {
        const Frame done = m_stack.back();
        m_stack.pop_back();
        leave(done);
    }
}

void Writer::enter(const GumboNode *node)
{
    switch (node->type) {
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
        text(node->v.text.text);
        return;
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        break;
    default:
        return;
    }
    const Rule rule = ruleOf(node);
    Frame frame{node};
    switch (rule.kind) {
    case Kind::Drop:
        return;
    case Kind::Transparent:
        break;
    case Kind::Void:
        if (isTag(node, GUMBO_TAG_IMG)) {
            if (!flattened())
                picture(node);
            return;
        }
        boundary();
        if (!flattened() || isTag(node, GUMBO_TAG_BR))
            out() += isTag(node, GUMBO_TAG_BR) ? "<br>" : "<hr>";
        return;
    case Kind::Table:
        // A table takes four levels (table, row group, row, cell) at once.
        if (!flattened() && (m_tableDepth >= TPageSanitizer::kMaxTableDepth ||
                             m_depth + 4 > TPageSanitizer::kMaxDepth || !tableFits(node))) {
            ++m_flat;
            frame.flattens = true;
        }
        boundary();
        frame.block = true;
        if (!flattened()) {
            openTag(rule.name, node);
            frame.closeTag = rule.name;
            frame.table = true;
            ++m_tableDepth;
        }
        break;
    case Kind::TablePart:
        // Only ever inside a table (the parser puts them nowhere else): kept exactly when
        // the table is.
        boundary();
        frame.block = true;
        if (!flattened()) {
            openTag(rule.name, node);
            frame.closeTag = rule.name;
        }
        break;
    case Kind::Block:
    case Kind::Inline:
        if (!flattened() && m_depth >= TPageSanitizer::kMaxDepth) {
            ++m_flat;
            frame.flattens = true;
        }
        if (rule.kind == Kind::Block) {
            boundary();
            frame.block = true;
        }
        if (!flattened()) {
            openTag(rule.name, node);
            frame.closeTag = rule.name;
        }
        break;
    }
    if (frame.closeTag)
        ++m_depth;
    m_stack.push_back(frame);
}

void Writer::leave(const Frame &frame)
{
    if (frame.closeTag) {
        out() += "</";
        out() += frame.closeTag;
        out() += '>';
        --m_depth;
    }
    if (frame.table)
        --m_tableDepth;
    if (frame.flattens)
        --m_flat;
    if (frame.block)
        boundary();
}

void Writer::boundary()
{
    // Text of neighbouring blocks must not run together into one word when flattened.
    if (flattened() && m_word > 0)
        out() += ' ';
    m_word = 0;
}

void Writer::text(std::string_view text)
{
    if (m_full)
        return;
    if (m_textBytes + text.size() > TPageSanitizer::kMaxTextBytes) {
        text = text.substr(0, TPageSanitizer::kMaxTextBytes - m_textBytes);
        m_full = true;
        m_result.truncated = true;
    }
    m_textBytes += text.size();
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            m_word = 0;
        } else {
            // A place to break the line, between two characters (never inside one).
            if (m_word >= TPageSanitizer::kMaxWordBytes &&
                (static_cast<unsigned char>(c) & 0xc0) != 0x80) {
                out() += kWordBreak;
                m_word = 0;
            }
            ++m_word;
        }
        switch (c) {
        case '&':
            out() += "&amp;";
            break;
        case '<':
            out() += "&lt;";
            break;
        case '>':
            out() += "&gt;";
            break;
        default:
            out() += c;
        }
    }
}

void Writer::writeAttribute(const char *name, std::string_view value)
{
    out() += ' ';
    out() += name;
    out() += "=\"";
    for (const char c : value) {
        switch (c) {
        case '&':
            out() += "&amp;";
            break;
        case '"':
            out() += "&quot;";
            break;
        case '<':
            out() += "&lt;";
            break;
        case '>':
            out() += "&gt;";
            break;
        default:
            // Control characters have no place in an attribute.
            out() += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    out() += '"';
}

void Writer::openTag(const char *name, const GumboNode *node)
{
    out() += '<';
    out() += name;
    const GumboVector &attributes = node->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto *a = static_cast<const GumboAttribute *>(attributes.data[i]);
        const std::string_view key = a->name;
        const std::string_view value = a->value;
        const GumboTag tag = node->v.element.tag;
        if (key == "align" && oneOf(value, {"left", "right", "center", "justify"})) {
            writeAttribute("align", value);
        } else if (key == "valign" && oneOf(value, {"top", "middle", "bottom", "baseline"}) &&
                   (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH || tag == GUMBO_TAG_TR)) {
            writeAttribute("valign", value);
        } else if ((key == "color" || key == "bgcolor") && !value.empty() && value.size() <= 20 &&
                   allOf(value, isAlnumOrHash)) {
            writeAttribute(a->name, value);
        } else if (tag == GUMBO_TAG_A && key == "href" &&
                   value.size() <= TPageSanitizer::kMaxAttributeBytes) {
            writeAttribute("href", value);
        } else if (tag == GUMBO_TAG_A && key == "name" && value.size() <= 64) {
            writeAttribute("name", value);
        } else if (tag == GUMBO_TAG_FONT && key == "size" && value.size() <= 2 && !value.empty() &&
                   value.back() >= '1' && value.back() <= '7' &&
                   (value.size() == 1 || value[0] == '+' || value[0] == '-')) {
            writeAttribute("size", value);
        } else if ((key == "colspan" || key == "rowspan") &&
                   (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) {
            const int n = number(value, 1, TPageSanitizer::kMaxTableColumns);
            if (n > 0)
                writeAttribute(a->name, std::to_string(n));
        } else if ((key == "border" || key == "cellpadding" || key == "cellspacing") &&
                   tag == GUMBO_TAG_TABLE) {
            const int n = number(value, 0, 20);
            if (n >= 0)
                writeAttribute(a->name, std::to_string(n));
        } else if (key == "width" &&
                   (tag == GUMBO_TAG_TABLE || tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) {
            const bool percent = !value.empty() && value.back() == '%';
            const int n = number(percent ? value.substr(0, value.size() - 1) : value, 0,
                                 percent ? 100 : TPageSanitizer::kMaxPictureSide);
            if (n >= 0)
                writeAttribute("width", std::to_string(n) + (percent ? "%" : ""));
        } else if (key == "type" && (tag == GUMBO_TAG_OL || tag == GUMBO_TAG_UL) &&
                   oneOf(value, {"1", "a", "i", "disc", "circle", "square"})) {
            writeAttribute("type", value);
        }
    }
    out() += '>';
}

void Writer::picture(const GumboNode *node)
{
    const char *src = attribute(node, "src");
    if (!src || !*src || std::strlen(src) > TPageSanitizer::kMaxAttributeBytes ||
        m_pictures >= TPageSanitizer::kMaxPictures)
        return;
    ++m_pictures;
    out() += "<img";
    writeAttribute("src", src);
    for (const char *side : {"width", "height"}) {
        const char *value = attribute(node, side);
        const int n = value ? number(value, 1, TPageSanitizer::kMaxPictureSide) : -1;
        if (n > 0)
            writeAttribute(side, std::to_string(n));
    }
    const char *align = attribute(node, "align");
    if (align && oneOf(align, {"left", "right", "middle", "top", "bottom"}))
        writeAttribute("align", align);
    const char *alt = attribute(node, "alt");
    if (alt && std::strlen(alt) <= 256)
        writeAttribute("alt", alt);
    out() += '>';
    m_word = 0;
}

// Counts what the parser would read as tags, without parsing.
std::size_t tagCount(std::string_view page, std::size_t stopAbove)
{
    std::size_t count = 0;
    for (std::size_t at = page.find('<'); at != std::string_view::npos && count <= stopAbove;
         at = page.find('<', at + 1)) {
        if (at + 1 < page.size()) {
            const char c = page[at + 1];
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!' ||
                c == '?')
                ++count;
        }
    }
    return count;
}

} // namespace

TPageSanitizer::Result TPageSanitizer::sanitize(std::string_view page)
{
    Result result;
    result.html = "<html><body>";
    if (tagCount(page, kMaxTags) > kMaxTags) {
        result.tooComplex = true;
        result.html += "<p>";
        result.html += kTooComplex;
        result.html += "</p></body></html>";
        return result;
    }
    GumboOptions options = kGumboDefaultOptions;
    // Parse errors are of no use here; recording them costs memory on a broken page.
    options.max_errors = 0;
    GumboOutput *parsed = gumbo_parse_with_options(&options, page.data(), page.size());
    if (parsed) {
        Writer(result).run(parsed->document);
        gumbo_destroy_output(&options, parsed);
    }
    if (result.truncated) {
        result.html += "<p><i>";
        result.html += kTruncated;
        result.html += "</i></p>";
    }
    result.html += "</body></html>";
    return result;
}
