// Writes a manual page (man(7) markup) from one part of a document, so that
// the reference is written once: a Markdown page (docs/cli.md) for the
// English pages, the user guide's HTML (docs/guide.html) for the Japanese
// ones. It knows the subset those documents use: headings, paragraphs,
// lists (nested too), tables (shown as tagged paragraphs, one a row), code
// blocks and spans, bold, italic, and links shown as their text.
//
// Usage:
//   quillonemu-manpage markdown|html FILE PART NAME DATE SOURCE MANUAL OUTPUT
// PART is the heading that holds the page (Markdown: its text, code marks
// left out; HTML: the id of an <h2>). The part's first paragraph is the
// page's summary, "NAME — what it is"; its subheadings become the page's
// sections (.SH), theirs the subsections (.SS). Japanese pages (an HTML
// source) get groff's Japanese line breaking.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Style { Plain, Bold, Italic, Code };

struct Span {
    std::string text;
    Style style = Style::Plain;
};
using Inlines = std::vector<Span>;

struct Block {
    enum Kind { Heading, Paragraph, Code, Item, ListStart, ListEnd, Table };
    Kind kind = Paragraph;
    int level = 0;                        // Heading: relative to the part (1 = .SH)
    Inlines text;                         // Heading, Paragraph, Item (its first paragraph)
    std::vector<std::string> lines;       // Code
    std::vector<std::vector<Inlines>> rows; // Table, the first row its head
    int depth = 0;                        // lists the block is in
};

bool isBlank(const std::string &line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

std::string trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

int indentOf(const std::string &line)
{
    int n = 0;
    while (n < int(line.size()) && line[n] == ' ')
        ++n;
    return n;
}

bool isAsciiByte(char c)
{
    return static_cast<unsigned char>(c) < 0x80;
}

// Two pieces of text joined across a line break: a space between them,
// except between two Japanese characters, which are written without one.
void appendJoined(std::string &to, const std::string &piece)
{
    if (!to.empty() && !piece.empty() && !(!isAsciiByte(to.back()) && !isAsciiByte(piece.front())))
        to += ' ';
    to += piece;
}

// --- Markdown --------------------------------------------------------------

Inlines parseMarkdownInlines(const std::string &text)
{
    Inlines out;
    Style current = Style::Plain;
    auto add = [&out](const std::string &s, Style style) {
        if (s.empty())
            return;
        if (!out.empty() && out.back().style == style)
            out.back().text += s;
        else
            out.push_back({s, style});
    };
    std::string plain;
    auto flush = [&] { add(plain, current); plain.clear(); };
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && std::ispunct(static_cast<unsigned char>(text[i + 1]))) {
            plain += text[i + 1];
            i += 2;
        } else if (c == '`') {
            size_t ticks = text.find_first_not_of('`', i) - i;
            const std::string fence(ticks, '`');
            const size_t end = text.find(fence, i + ticks);
            if (end == std::string::npos) {
                plain += fence;
                i += ticks;
                continue;
            }
            flush();
            std::string code = text.substr(i + ticks, end - i - ticks);
            if (code.size() > 2 && code.front() == ' ' && code.back() == ' ')
                code = code.substr(1, code.size() - 2);
            add(code, Style::Code);
            i = end + ticks;
        } else if ((c == '!' && i + 1 < text.size() && text[i + 1] == '[') || c == '[') {
            const bool image = c == '!';
            const size_t open = image ? i + 1 : i;
            int nesting = 0;
            size_t close = std::string::npos;
            for (size_t j = open; j < text.size(); ++j) {
                if (text[j] == '`') {
                    const size_t end = text.find('`', j + 1);
                    if (end == std::string::npos)
                        break;
                    j = end;
                } else if (text[j] == '[') {
                    ++nesting;
                } else if (text[j] == ']' && --nesting == 0) {
                    close = j;
                    break;
                }
            }
            const size_t target = close == std::string::npos ? close : text.find(')', close);
            if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != '(' || target == std::string::npos) {
                plain += c;
                ++i;
                continue;
            }
            flush();
            if (!image)
                for (const Span &span : parseMarkdownInlines(text.substr(open + 1, close - open - 1)))
                    add(span.text, span.style == Style::Plain ? current : span.style);
            i = target + 1;
        } else if (c == '*' || c == '_') {
            const bool strong = i + 1 < text.size() && text[i + 1] == c;
            const std::string mark(strong ? 2 : 1, c);
            const Style style = strong ? Style::Bold : Style::Italic;
            const bool closing = current == style;
            const bool opening = current == Style::Plain && i + mark.size() < text.size()
                && text[i + mark.size()] != ' ' && text.find(mark, i + mark.size()) != std::string::npos
                && (c == '*' || i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])));
            if (closing || opening) {
                flush();
                current = closing ? Style::Plain : style;
                i += mark.size();
            } else {
                plain += c;
                ++i;
            }
        } else {
            plain += c;
            ++i;
        }
    }
    flush();
    return out;
}

std::vector<std::string> splitRow(const std::string &line)
{
    std::vector<std::string> cells;
    std::string row = trim(line);
    if (!row.empty() && row.front() == '|')
        row.erase(0, 1);
    if (!row.empty() && row.back() == '|' && (row.size() < 2 || row[row.size() - 2] != '\\'))
        row.pop_back();
    std::string cell;
    bool code = false;
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cell += '|';
            ++i;
        } else if (row[i] == '`') {
            code = !code;
            cell += '`';
        } else if (row[i] == '|' && !code) {
            cells.push_back(trim(cell));
            cell.clear();
        } else {
            cell += row[i];
        }
    }
    cells.push_back(trim(cell));
    return cells;
}

std::string headingText(const std::string &line, int *level)
{
    const size_t hashes = line.find_first_not_of('#');
    if (hashes == 0 || hashes == std::string::npos || hashes > 6 || line[hashes] != ' ')
        return {};
    *level = int(hashes);
    return trim(line.substr(hashes));
}

std::string withoutCodeMarks(std::string s)
{
    std::string out;
    for (char c : s)
        if (c != '`')
            out += c;
    return out;
}

// The blocks of the part of a Markdown page under the heading PART.
bool readMarkdown(const std::string &path, const std::string &part, std::vector<Block> &blocks, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    int partLevel = 0;
    size_t begin = lines.size();
    bool fence = false;
    for (size_t i = 0; i < lines.size() && begin == lines.size(); ++i) {
        if (trim(lines[i]).rfind("```", 0) == 0)
            fence = !fence;
        int level = 0;
        if (!fence && withoutCodeMarks(headingText(lines[i], &level)) == part) {
            partLevel = level;
            begin = i + 1;
        }
    }
    if (begin == lines.size()) {
        error = path + " has no heading \"" + part + "\"";
        return false;
    }

    // Each open list item: the indent its content has.
    std::vector<int> items;
    Block paragraph;
    bool inParagraph = false;
    bool afterBlank = true;
    auto endParagraph = [&] {
        if (inParagraph)
            blocks.push_back(paragraph);
        inParagraph = false;
    };
    auto closeListsTo = [&](size_t depth) {
        while (items.size() > depth) {
            items.pop_back();
            Block end;
            end.kind = Block::ListEnd;
            end.depth = int(items.size());
            blocks.push_back(end);
        }
    };
    for (size_t i = begin; i < lines.size(); ++i) {
        const std::string &raw = lines[i];
        int level = 0;
        const std::string heading = headingText(raw, &level);
        if (!heading.empty() && level <= partLevel)
            break;
        if (isBlank(raw)) {
            endParagraph();
            afterBlank = true;
            continue;
        }
        const int indent = indentOf(raw);
        // The list items this line is not inside end, after a blank line.
        size_t within = items.size();
        while (within > 0 && indent < items[within - 1])
            --within;
        const int base = within > 0 ? items[within - 1] : 0;
        const std::string text = raw.substr(std::min<size_t>(size_t(base), raw.size()));
        const bool marker = (text.rfind("- ", 0) == 0 || text.rfind("* ", 0) == 0);
        if (within < items.size() && (afterBlank || marker)) {
            endParagraph();
            closeListsTo(within);
        }
        const int depth = int(items.size());

        if (!heading.empty()) {
            endParagraph();
            closeListsTo(0);
            Block block;
            block.kind = Block::Heading;
            block.level = level - partLevel;
            block.text = parseMarkdownInlines(heading);
            blocks.push_back(block);
        } else if (trim(text).rfind("```", 0) == 0) {
            endParagraph();
            Block block;
            block.kind = Block::Code;
            block.depth = depth;
            const int fenceIndent = indentOf(text);
            for (++i; i < lines.size() && trim(lines[i]).rfind("```", 0) != 0; ++i)
                block.lines.push_back(lines[i].substr(std::min<size_t>(lines[i].size(), size_t(base + fenceIndent))));
            blocks.push_back(block);
        } else if (indentOf(text) >= 4 && afterBlank && !inParagraph) {
            Block block;
            block.kind = Block::Code;
            block.depth = depth;
            size_t last = i;
            for (size_t j = i; j < lines.size(); ++j) {
                if (isBlank(lines[j]))
                    continue;
                if (indentOf(lines[j]) < base + 4)
                    break;
                last = j;
            }
            for (; i <= last; ++i)
                block.lines.push_back(isBlank(lines[i]) ? std::string() : lines[i].substr(size_t(base + 4)));
            --i;
            blocks.push_back(block);
        } else if (trim(text).front() == '|' && i + 1 < lines.size() && !inParagraph
                   && trim(lines[i + 1]).rfind('|', 0) == 0
                   && trim(lines[i + 1]).find_first_not_of("|-: ") == std::string::npos) {
            Block block;
            block.kind = Block::Table;
            block.depth = depth;
            for (; i < lines.size() && !isBlank(lines[i]) && trim(lines[i]).front() == '|'; ++i) {
                if (trim(lines[i]).find_first_not_of("|-: ") == std::string::npos)
                    continue;
                std::vector<Inlines> row;
                for (const std::string &cell : splitRow(lines[i]))
                    row.push_back(parseMarkdownInlines(cell));
                block.rows.push_back(row);
            }
            --i;
            blocks.push_back(block);
        } else if (marker && indentOf(text) == 0) {
            endParagraph();
            Block start;
            start.kind = Block::ListStart;
            start.depth = depth;
            if (!blocks.empty() && blocks.back().kind == Block::ListEnd && blocks.back().depth == depth)
                blocks.pop_back(); // the same list goes on
            else
                blocks.push_back(start);
            items.push_back(base + 2);
            paragraph = Block();
            paragraph.kind = Block::Item;
            paragraph.depth = depth;
            paragraph.lines = {trim(text.substr(2))};
            inParagraph = true;
        } else if (inParagraph) {
            paragraph.lines.push_back(trim(text));
        } else {
            paragraph = Block();
            paragraph.kind = Block::Paragraph;
            paragraph.depth = depth;
            paragraph.lines = {trim(text)};
            inParagraph = true;
        }
        afterBlank = false;
    }
    endParagraph();
    closeListsTo(0);
    for (Block &block : blocks) {
        if (block.kind != Block::Paragraph && block.kind != Block::Item)
            continue;
        std::string joined;
        for (const std::string &line : block.lines)
            appendJoined(joined, line);
        block.text = parseMarkdownInlines(joined);
        block.lines.clear();
    }
    return true;
}

// --- HTML (the user guide) --------------------------------------------------

std::string decodeEntities(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == '&' ? text.find(';', i) : std::string::npos;
        if (end == std::string::npos || end - i > 8) {
            out += text[i];
            continue;
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        unsigned code = 0;
        if (name == "lt") code = '<';
        else if (name == "gt") code = '>';
        else if (name == "amp") code = '&';
        else if (name == "quot") code = '"';
        else if (name == "apos") code = '\'';
        else if (name == "nbsp") code = 0xA0;
        else if (name.size() > 1 && name[0] == '#')
            code = unsigned(name[1] == 'x' ? std::stoul(name.substr(2), nullptr, 16) : std::stoul(name.substr(1)));
        if (code == 0) {
            out += text[i];
            continue;
        }
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
        i = end;
    }
    return out;
}

// The blocks of the part of the guide under <h2 id="PART">, up to the next <h2>.
bool readHtml(const std::string &path, const std::string &part, std::vector<Block> &blocks, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string page = buffer.str();
    const size_t heading = page.find("<h2 id=\"" + part + "\"");
    if (heading == std::string::npos) {
        error = path + " has no <h2 id=\"" + part + "\">";
        return false;
    }
    const size_t begin = page.find("</h2>", heading);
    const size_t end = std::min(page.find("<h2", begin), page.size());

    Block pending;                // the block the text goes into
    std::vector<Style> styles{Style::Plain};
    int lists = 0;
    Block table;
    bool inTable = false;
    auto startBlock = [&](Block::Kind kind, int depth) {
        pending = Block();
        pending.kind = kind;
        pending.depth = depth;
    };
    auto flush = [&] {
        Inlines &text = pending.text;
        while (!text.empty() && trim(text.back().text).empty())
            text.pop_back();
        if (!text.empty()) {
            text.back().text.erase(text.back().text.find_last_not_of(' ') + 1);
            if (inTable && !table.rows.empty() && !table.rows.back().empty()) {
                Inlines &cell = table.rows.back().back();
                if (!cell.empty())
                    cell.push_back({" ", Style::Plain});
                cell.insert(cell.end(), text.begin(), text.end());
            } else if (!inTable) {
                blocks.push_back(pending);
            }
        }
        startBlock(Block::Paragraph, lists);
    };
    auto addText = [&](const std::string &raw) {
        std::string text;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != ' ' && raw[i] != '\n' && raw[i] != '\t' && raw[i] != '\r') {
                text += raw[i];
                continue;
            }
            bool newline = false;
            size_t j = i;
            for (; j < raw.size() && (raw[j] == ' ' || raw[j] == '\n' || raw[j] == '\t' || raw[j] == '\r'); ++j)
                newline = newline || raw[j] == '\n';
            char before = text.empty() ? (pending.text.empty() || pending.text.back().text.empty() ? ' ' : pending.text.back().text.back()) : text.back();
            const bool joinTight = newline && !isAsciiByte(before) && j < raw.size() && !isAsciiByte(raw[j]);
            if (!joinTight && before != ' ')
                text += ' ';
            i = j - 1;
        }
        text = decodeEntities(text);
        if (text.empty())
            return;
        if (!pending.text.empty() && pending.text.back().style == styles.back())
            pending.text.back().text += text;
        else
            pending.text.push_back({text, styles.back()});
    };

    startBlock(Block::Paragraph, 0);
    for (size_t i = begin + 5; i < end;) {
        if (page.compare(i, 4, "<!--") == 0) {
            i = page.find("-->", i) + 3;
            continue;
        }
        if (page[i] != '<') {
            const size_t next = std::min(page.find('<', i), end);
            addText(page.substr(i, next - i));
            i = next;
            continue;
        }
        const size_t close = page.find('>', i);
        std::string tag = page.substr(i + 1, close - i - 1);
        i = close + 1;
        if (tag.rfind("p class=\"back\"", 0) == 0) { // the way back to the contents
            i = page.find("</p>", i) + 4;
            continue;
        }
        const bool closing = !tag.empty() && tag[0] == '/';
        std::string name = tag.substr(closing ? 1 : 0, tag.find_first_of(" />", closing ? 1 : 0) - (closing ? 1 : 0));
        if (name == "code" || name == "b" || name == "strong" || name == "i" || name == "em" || name == "kbd") {
            if (closing && styles.size() > 1)
                styles.pop_back();
            else if (!closing)
                styles.push_back(name == "code" || name == "kbd" ? Style::Code
                                 : name == "b" || name == "strong" ? Style::Bold : Style::Italic);
        } else if (name == "p" || name == "div" || name == "br") {
            flush();
        } else if (name == "h3" || name == "h4" || name == "h5") {
            if (!closing) {
                flush();
                startBlock(Block::Heading, 0);
                pending.level = name[1] - '2';
            } else {
                flush();
            }
        } else if (name == "ul" || name == "ol") {
            flush();
            Block mark;
            mark.kind = closing ? Block::ListEnd : Block::ListStart;
            if (closing)
                --lists;
            mark.depth = lists;
            if (!closing)
                ++lists;
            blocks.push_back(mark);
            startBlock(Block::Paragraph, lists);
        } else if (name == "li") {
            flush();
            if (!closing)
                startBlock(Block::Item, lists - 1);
        } else if (name == "pre") {
            flush();
            const size_t stop = page.find("</pre>", i);
            std::string text = page.substr(i, stop - i);
            std::string plain;
            for (size_t j = 0; j < text.size(); ++j) {
                if (text[j] == '<')
                    j = text.find('>', j);
                else
                    plain += text[j];
            }
            Block code;
            code.kind = Block::Code;
            code.depth = lists;
            std::istringstream lines(decodeEntities(plain));
            for (std::string line; std::getline(lines, line);)
                code.lines.push_back(line);
            while (!code.lines.empty() && isBlank(code.lines.front()))
                code.lines.erase(code.lines.begin());
            while (!code.lines.empty() && isBlank(code.lines.back()))
                code.lines.pop_back();
            if (inTable)
                for (const std::string &line : code.lines)
                    addText(line + " ");
            else
                blocks.push_back(code);
            i = stop + 6;
        } else if (name == "table") {
            flush();
            if (!closing) {
                table = Block();
                table.kind = Block::Table;
                table.depth = lists;
                inTable = true;
            } else {
                inTable = false;
                if (!table.rows.empty())
                    blocks.push_back(table);
            }
        } else if (name == "tr" && !closing && inTable) {
            table.rows.emplace_back();
        } else if ((name == "td" || name == "th") && inTable) {
            if (!closing) {
                if (table.rows.empty())
                    table.rows.emplace_back();
                table.rows.back().emplace_back();
                startBlock(Block::Paragraph, lists);
            } else {
                flush();
            }
        }
    }
    flush();
    return true;
}

// --- man(7) ----------------------------------------------------------------

std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

// One line of text: fonts by escapes, and a leading dot or apostrophe kept
// from being read as a request.
std::string roffLine(const Inlines &text, bool bold = false)
{
    std::string out;
    char last = ' ';
    for (const Span &span : text) {
        // A Latin word right after a Japanese character (「、」, say) may
        // start a line: groff sees no break point there by itself.
        if (!span.text.empty() && !isAsciiByte(last) && isAsciiByte(span.text.front()) && span.text.front() != ' ')
            out += "\\:";
        if (!span.text.empty())
            last = span.text.back();
        const bool strong = bold || span.style == Style::Bold || span.style == Style::Code;
        const char *font = strong && span.style == Style::Italic ? "\\f(BI"
            : strong ? "\\fB" : span.style == Style::Italic ? "\\fI" : "";
        out += font;
        out += escaped(span.text);
        if (*font)
            out += "\\fR";
    }
    const size_t first = out.find_first_not_of(' ');
    out = first == std::string::npos ? std::string() : out.substr(first);
    if (!out.empty() && (out.front() == '.' || out.front() == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string plainText(const Inlines &text)
{
    std::string out;
    for (const Span &span : text)
        out += span.text;
    return trim(out);
}

std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

struct Page {
    std::string name, date, source, manual;
    bool japanese = false;
};

std::string render(const Page &page, const std::vector<Block> &blocks, std::string &error)
{
    std::ostringstream out;
    out << ".TH " << upper(page.name) << " 1 " << page.date << " \"" << page.source << "\" \"" << page.manual << "\"\n";
    out << ".\\\" Generated from the documentation by quillonemu-manpage: edit that, not this.\n";
    // Every page quotes Japanese texts: groff breaks lines between Japanese
    // characters, which have no spaces, and the lines are not stretched.
    out << ".\\\" Japanese line breaking (groff)\n.if \\n(.g .mso ja.tmac\n.ad l\n";
    // Option and file names are not hyphenated.
    out << ".nh\n.nr HY 0\n";
    size_t first = 0;
    while (first < blocks.size() && blocks[first].kind != Block::Paragraph)
        ++first;
    if (first == blocks.size() || first > 0) {
        error = "the part does not begin with its summary (\"" + page.name + " — what it is\")";
        return {};
    }
    std::string summary = plainText(blocks[0].text);
    // A Japanese summary is the paragraph's first sentence, without its full stop.
    // The rest of the paragraph describes the program further.
    const std::string fullStop = "。";
    std::string more;
    if (page.japanese && summary.find(fullStop) != std::string::npos) {
        more = trim(summary.substr(summary.find(fullStop) + fullStop.size()));
        summary = summary.substr(0, summary.find(fullStop));
    }
    for (const std::string dash : {" — ", " - ", " は、"}) {
        if (summary.rfind(page.name + dash, 0) == 0) {
            summary = trim(summary.substr(page.name.size() + dash.size()));
            break;
        }
    }
    out << ".SH " << (page.japanese ? "名前" : "NAME") << "\n" << escaped(page.name) << " \\- " << escaped(summary) << "\n";
    if (!more.empty())
        out << ".SH 説明\n" << roffLine({{more, Style::Plain}}) << "\n";
    bool needParagraph = true;
    for (size_t i = 1; i < blocks.size(); ++i) {
        const Block &block = blocks[i];
        switch (block.kind) {
        case Block::Heading:
            if (block.level == 1)
                out << ".SH\n" << roffLine(page.japanese ? block.text : Inlines{{upper(plainText(block.text)), Style::Plain}}) << "\n";
            else if (block.level == 2)
                out << ".SS\n" << roffLine(block.text) << "\n";
            else
                out << ".PP\n" << roffLine(block.text, true) << "\n.br\n";
            needParagraph = false;
            continue;
        case Block::Paragraph:
            out << (block.depth > 0 ? ".IP \"\" 2\n" : needParagraph ? ".PP\n" : "") << roffLine(block.text) << "\n";
            break;
        case Block::Item:
            out << ".IP \\(bu 2\n" << roffLine(block.text) << "\n";
            break;
        case Block::ListStart:
            if (block.depth > 0)
                out << ".RS 2\n";
            break;
        case Block::ListEnd:
            if (block.depth > 0)
                out << ".RE\n";
            else
                out << ".PP\n";
            break;
        case Block::Code:
            out << (block.depth > 0 ? ".RS 2\n" : ".PP\n") << ".EX\n";
            for (const std::string &line : block.lines) {
                std::string text = escaped(line);
                if (!text.empty() && (text.front() == '.' || text.front() == '\''))
                    text.insert(0, "\\&");
                out << text << "\n";
            }
            out << ".EE\n" << (block.depth > 0 ? ".RE\n" : "");
            break;
        case Block::Table:
            // A row a tagged paragraph: the first cell the tag, the others
            // its text; the head, when it names the columns, above them.
            if (block.depth > 0)
                out << ".RS 2\n";
            for (size_t r = 0; r < block.rows.size(); ++r) {
                const std::vector<Inlines> &row = block.rows[r];
                if (r == 0) {
                    out << ".PP\n";
                    for (size_t c = 0; c < row.size(); ++c)
                        out << (c > 0 ? " \\(em " : "") << roffLine(row[c], true);
                    out << "\n";
                    continue;
                }
                out << ".TP\n" << (row.empty() ? std::string("\\&") : roffLine(row[0])) << "\n";
                for (size_t c = 1; c < row.size(); ++c)
                    out << (c > 1 ? " \\(em " : "") << roffLine(row[c]);
                out << "\n";
            }
            out << (block.depth > 0 ? ".RE\n" : ".PP\n");
            break;
        }
        needParagraph = block.kind != Block::ListEnd && block.kind != Block::Table;
        if (block.kind == Block::ListEnd && block.depth == 0)
            needParagraph = false;
    }
    return out.str();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 9) {
        std::cerr << "usage: quillonemu-manpage markdown|html FILE PART NAME DATE SOURCE MANUAL OUTPUT\n";
        return 2;
    }
    const std::string format = argv[1];
    Page page{argv[4], argv[5], argv[6], argv[7], format == "html"};
    std::vector<Block> blocks;
    std::string error;
    const bool read = format == "html" ? readHtml(argv[2], argv[3], blocks, error)
                                       : readMarkdown(argv[2], argv[3], blocks, error);
    const std::string text = read ? render(page, blocks, error) : std::string();
    if (!error.empty()) {
        std::cerr << "quillonemu-manpage: " << argv[2] << ": " << error << "\n";
        return 1;
    }
    std::ofstream out(argv[8], std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "quillonemu-manpage: cannot write " << argv[8] << "\n";
        return 1;
    }
    return 0;
}
