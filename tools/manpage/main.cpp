// make-manpage: turns a program's help source (help.txt beside its main.cpp) into its manual page.
//
//   make-manpage SOURCE OUTPUT VERSION DATE   writes the page (roff) of the help source SOURCE
//   make-manpage --terms                      reads a --help text on standard input and prints the term
//                                             of each option line ("--port PORT"), one a line
//
// A help source is: a first line "# NAME - what it does"; then the program's --help text, which the
// program embeds and prints as it is; then sections "## TITLE" that only the manual has (DESCRIPTION,
// ENVIRONMENT, FILES, EXIT STATUS, EXAMPLES, ...). The page is made of them so:
//   - the paragraph "usage: ..." of the help is the SYNOPSIS (a line starting with the program's name
//     starts another form);
//   - paragraphs of option lines ("  --opt ARG   text", continued on lines indented further) are the
//     OPTIONS; the help's other paragraphs open the DESCRIPTION, and "## DESCRIPTION" follows them;
//   - in the "##" sections a paragraph of one unindented line and indented lines is a tagged item
//     (a variable, a file), a paragraph indented by four is an example shown as it is, any other is text.
// Whatever the help says is therefore in the page, and the page cannot list an option the help lacks.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/HelpText.h"

namespace {

using Lines = std::vector<std::string>;

std::size_t indentOf(const std::string& line) {
    const std::size_t n = line.find_first_not_of(' ');
    return n == std::string::npos ? line.size() : n;
}

std::string trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool blank(const std::string& line) { return trim(line).empty(); }

// Paragraphs: runs of lines between blank lines.
std::vector<Lines> paragraphs(const Lines& lines) {
    std::vector<Lines> out;
    Lines current;
    for (const std::string& line : lines) {
        if (blank(line)) {
            if (!current.empty()) out.push_back(current);
            current.clear();
        } else {
            current.push_back(line);
        }
    }
    if (!current.empty()) out.push_back(current);
    return out;
}

// Text as roff shows it: backslashes and minus signs escaped, a line never starting a request.
std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else if (c == '-') out += "\\-";
        else out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

// An option paragraph: its first line is an option line ("  -x ...").
bool isOptionLine(const std::string& line) { return line.size() > 3 && line.compare(0, 3, "  -") == 0; }

struct Option {
    std::string term;
    std::string description;
};

// The options of a paragraph of option lines. The term ends at the first gap of two blanks; a term
// followed by one blank only ends at the column where the paragraph's descriptions are continued.
std::vector<Option> options(const Lines& paragraph) {
    std::size_t column = 0;
    for (const std::string& line : paragraph)
        if (!isOptionLine(line) && indentOf(line) > 2) column = column ? std::min(column, indentOf(line)) : indentOf(line);
    std::vector<Option> out;
    for (const std::string& line : paragraph) {
        if (isOptionLine(line)) {
            Option o;
            std::size_t gap = line.find("  ", 2);
            if (gap == std::string::npos && column > 0 && line.size() > column && line[column - 1] == ' ') gap = column - 1;
            o.term = trim(line.substr(2, gap == std::string::npos ? std::string::npos : gap - 2));
            if (gap != std::string::npos) o.description = trim(line.substr(gap));
            out.push_back(o);
        } else if (!out.empty()) {
            std::string& d = out.back().description;
            d += (d.empty() ? "" : " ") + trim(line);
        }
    }
    return out;
}

// "--port PORT" in bold and italics: options bold, their arguments italic.
std::string termText(const std::string& term) {
    std::istringstream words(term);
    std::string word, out;
    while (words >> word) {
        std::string comma;
        if (word.size() > 1 && word.back() == ',') {
            comma = ",";
            word.pop_back();
        }
        const bool option = word[0] == '-' && word.size() > 1 && !std::isdigit(static_cast<unsigned char>(word[1]));
        if (!out.empty()) out += ' ';
        out += (option ? "\\fB" : "\\fI") + escape(word) + "\\fR" + comma;
    }
    return out;
}

struct Source {
    std::string name, summary;
    Lines help;
    std::vector<std::pair<std::string, Lines>> sections;
};

Lines linesOf(std::string_view text) {
    Lines lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Source read(std::istream& in) {
    Source s;
    const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string first = source.substr(0, source.find('\n'));
    if (first.rfind("# ", 0) != 0 || first.find(" - ") == std::string::npos)
        throw std::runtime_error("the first line must be \"# NAME - what it does\"");
    s.name = first.substr(2, first.find(" - ") - 2);
    s.summary = first.substr(first.find(" - ") + 3);
    // The help as the program prints it, then the manual's own sections.
    const std::size_t end = vopa::text::helpEnd(source);
    s.help = linesOf(std::string_view(source).substr(vopa::text::helpBegin(source), end - vopa::text::helpBegin(source)));
    for (const std::string& line : linesOf(std::string_view(source).substr(end))) {
        if (line.rfind("## ", 0) == 0) s.sections.push_back({trim(line.substr(3)), {}});
        else if (!s.sections.empty()) s.sections.back().second.push_back(line);
    }
    return s;
}

void writeText(std::ostream& out, const Lines& paragraph) {
    out << ".PP\n";
    for (std::size_t i = 0; i < paragraph.size(); ++i) {
        // An indented line starts a line of its own, unless it is indented further than the one before
        // it, which it continues.
        const std::size_t indent = indentOf(paragraph[i]);
        if (i > 0 && indent > 0 && (indentOf(paragraph[i - 1]) == 0 || indent <= indentOf(paragraph[i - 1])))
            out << ".br\n";
        out << escape(trim(paragraph[i])) << '\n';
    }
}

void writeSection(std::ostream& out, const Lines& lines) {
    for (const Lines& p : paragraphs(lines)) {
        const bool allIndented = std::all_of(p.begin(), p.end(), [](const std::string& l) { return indentOf(l) >= 4; });
        const bool tagged = p.size() > 1 && indentOf(p[0]) == 0 &&
                            std::all_of(p.begin() + 1, p.end(), [](const std::string& l) { return indentOf(l) > 0; });
        if (allIndented) {
            out << ".PP\n.RS 4\n.nf\n";
            for (const std::string& l : p) out << escape(l.substr(4)) << '\n';
            out << ".fi\n.RE\n";
        } else if (tagged) {
            out << ".TP\n" << "\\fB" << escape(p[0]) << "\\fR\n";
            for (std::size_t i = 1; i < p.size(); ++i) out << escape(trim(p[i])) << '\n';
        } else {
            writeText(out, p);
        }
    }
}

void writePage(std::ostream& out, const Source& s, const std::string& version, const std::string& date) {
    std::string pageTitle = s.name;
    std::transform(pageTitle.begin(), pageTitle.end(), pageTitle.begin(), [](unsigned char c) { return std::toupper(c); });
    out << ".\\\" Made by make-manpage from the program's help source; do not edit.\n"
        << ".TH " << escape(pageTitle) << " 1 \"" << date << "\" \"qen-training " << version << "\" \"User Commands\"\n"
        << ".nh\n.ad l\n"
        << ".SH NAME\n" << escape(s.name) << " \\- " << escape(s.summary) << '\n';

    Lines synopsis;
    std::vector<Lines> description;
    std::vector<Option> optionList;
    for (const Lines& p : paragraphs(s.help)) {
        if (p[0].rfind("usage: ", 0) == 0) {
            for (std::size_t i = 0; i < p.size(); ++i) {
                const std::string line = trim(i == 0 ? p[i].substr(7) : p[i]);
                if (line.rfind(s.name, 0) == 0 || synopsis.empty()) synopsis.push_back(line);
                else synopsis.back() += ' ' + line;
            }
        } else if (isOptionLine(p[0])) {
            for (const Option& o : options(p)) optionList.push_back(o);
        } else {
            description.push_back(p);
        }
    }
    out << ".SH SYNOPSIS\n";
    for (std::size_t i = 0; i < synopsis.size(); ++i) {
        if (i > 0) out << ".br\n";
        std::string rest = synopsis[i].rfind(s.name, 0) == 0 ? synopsis[i].substr(s.name.size()) : " " + synopsis[i];
        out << "\\fB" << escape(s.name) << "\\fR" << escape(rest) << '\n';
    }
    out << ".SH DESCRIPTION\n";
    for (const Lines& p : description) writeText(out, p);
    for (const auto& [title, lines] : s.sections)
        if (title == "DESCRIPTION") writeSection(out, lines);
    if (!optionList.empty()) {
        out << ".SH OPTIONS\n";
        for (const Option& o : optionList) out << ".TP\n" << termText(o.term) << '\n' << escape(o.description) << '\n';
    }
    for (const auto& [title, lines] : s.sections) {
        if (title == "DESCRIPTION") continue;
        out << ".SH " << escape(title) << '\n';
        writeSection(out, lines);
    }
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 2 && std::string(argv[1]) == "--terms") {
            Lines lines;
            for (std::string line; std::getline(std::cin, line);) lines.push_back(line);
            for (const Lines& p : paragraphs(lines))
                if (isOptionLine(p[0]))
                    for (const Option& o : options(p)) std::cout << o.term << '\n';
            return 0;
        }
        if (argc != 5) {
            std::cerr << "usage: make-manpage SOURCE OUTPUT VERSION DATE | make-manpage --terms < HELP\n";
            return 2;
        }
        std::ifstream in(argv[1]);
        if (!in) throw std::runtime_error("cannot read " + std::string(argv[1]));
        const Source source = read(in);
        std::ofstream out(argv[2], std::ios::binary);
        writePage(out, source, argv[3], argv[4]);
        if (!out) throw std::runtime_error("cannot write " + std::string(argv[2]));
    } catch (const std::exception& e) {
        std::cerr << "make-manpage: " << argv[1] << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}
