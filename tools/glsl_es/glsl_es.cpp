// The desktop-to-ES rewrite of a fragment source: a scan of its top-level statements, which
// edits only the version line and globals that read uniforms. glslang with
// SPIRV-Cross would write the whole source anew from SPIR-V, with names and constants of its own,
// where the browser must run the desktop program's own statements for its frames to match.
#include "glsl_es/glsl_es.h"

#include <algorithm>
#include <cctype>

namespace quarvel {

namespace {

constexpr std::string_view desktopVersion = "#version 430";
constexpr std::string_view esPreamble =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n"
    "#line 2\n";

struct Token {
    std::string_view text;
    std::size_t offset = 0;  // in the whole source
};

// One statement at global scope: a declaration ending in ';' or a function definition.
struct Statement {
    std::size_t begin = 0;
    std::size_t end = 0;  // one past the ';' or the closing brace
    bool isFunction = false;
    std::vector<Token> tokens;  // comments and preprocessor lines left out
    int line = 1;               // of its first character
};

struct Edit {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string replacement;
};

bool isIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isIdentifier(std::string_view token) {
    return !token.empty() && isIdentifierStart(token.front());
}

int lineAt(std::string_view source, std::size_t offset) {
    return 1 + static_cast<int>(std::count(source.begin(), source.begin() + static_cast<long>(offset), '\n'));
}

// Splits the source into its global statements. Comments and preprocessor lines belong to no
// statement; braces and parentheses are counted so that only a ';' or '}' at depth 0 ends one.
Status globalStatements(std::string_view source, std::vector<Statement>& statements) {
    Statement current;
    bool inStatement = false;
    int braces = 0;
    bool atLineStart = true;
    std::size_t i = 0;
    while (i < source.size()) {
        const char c = source[i];
        if (c == '\n') {
            atLineStart = true;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (atLineStart && c == '#') {
            i = std::min(source.find('\n', i), source.size());
            continue;
        }
        atLineStart = false;
        if (source.substr(i, 2) == "//") {
            i = std::min(source.find('\n', i), source.size());
            continue;
        }
        if (source.substr(i, 2) == "/*") {
            const std::size_t close = source.find("*/", i + 2);
            if (close == std::string_view::npos) {
                return failure("line " + std::to_string(lineAt(source, i)) +
                               ": a comment that is never closed");
            }
            i = close + 2;
            continue;
        }
        if (!inStatement) {
            current = {};
            current.begin = i;
            current.line = lineAt(source, i);
            inStatement = true;
        }
        // identifiers whole; numbers whole with their point and suffix; other characters alone
        std::size_t length = 1;
        if (isIdentifierStart(c)) {
            while (i + length < source.size() && isIdentifierChar(source[i + length])) ++length;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '.') {
            while (i + length < source.size() &&
                   (isIdentifierChar(source[i + length]) || source[i + length] == '.'))
                ++length;
        }
        current.tokens.push_back({source.substr(i, length), i});
        i += length;
        if (c == '{') ++braces;
        if (c == '}') {
            if (--braces < 0) {
                return failure("line " + std::to_string(lineAt(source, i)) + ": a '}' that closes nothing");
            }
            // a closing brace at depth 0 ends a function; a struct goes on to its ';'
            if (braces == 0 && current.tokens.front().text != "struct") {
                current.end = i;
                current.isFunction = true;
                statements.push_back(current);
                inStatement = false;
            }
        }
        if (c == ';' && braces == 0) {
            current.end = i;
            statements.push_back(current);
            inStatement = false;
        }
    }
    if (inStatement || braces != 0)
        return failure("line " + std::to_string(current.line) + ": the source ends inside a statement");
    return success();
}

// The index of the first token `text` at parenthesis depth 0, or the token count.
std::size_t findAtTopLevel(const std::vector<Token>& tokens, std::string_view text) {
    int parens = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (parens == 0 && tokens[i].text == text) return i;
        if (tokens[i].text == "(" || tokens[i].text == "[") ++parens;
        if (tokens[i].text == ")" || tokens[i].text == "]") --parens;
    }
    return tokens.size();
}

bool isQualifiedDeclaration(const Statement& statement) {
    static constexpr std::string_view qualifiers[] = {"const", "uniform",   "layout", "in",
                                                      "out",   "precision", "struct", "invariant"};
    const std::string_view first = statement.tokens.front().text;
    return std::find(std::begin(qualifiers), std::end(qualifiers), first) != std::end(qualifiers);
}

bool hasToken(const std::vector<Token>& tokens, std::string_view text) {
    return std::any_of(tokens.begin(), tokens.end(), [&](const Token& t) { return t.text == text; });
}

std::string lineError(const Statement& statement, const std::string& what) {
    return "line " + std::to_string(statement.line) + ": " + what;
}

// "layout(location = N) uniform TYPE NAME;" or "uniform TYPE NAME;", the uniform's name in `name`.
Status uniformName(const Statement& statement, std::string& name) {
    const std::vector<Token>& t = statement.tokens;
    const std::size_t uniform = findAtTopLevel(t, "uniform");
    const bool plain = uniform == 0;
    const bool located = uniform == 6 && t[0].text == "layout" && t[1].text == "(" &&
                         t[2].text == "location" && t[3].text == "=" &&
                         std::isdigit(static_cast<unsigned char>(t[4].text.front())) && t[5].text == ")";
    if (!plain && !located)
        return failure(lineError(statement, "a uniform with a qualifier other than layout(location = N)"));
    if (t.size() != uniform + 4 || !isIdentifier(t[uniform + 2].text) || t.back().text != ";")
        return failure(lineError(statement, "a uniform declaration other than 'uniform TYPE NAME;'"));
    name = std::string(t[uniform + 2].text);
    return success();
}

}  // namespace

GlslEsResult translateToGlslEs(std::string_view source) {
    GlslEsResult result;
    const std::size_t firstLineEnd = std::min(source.find('\n'), source.size());
    std::string_view firstLine = source.substr(0, firstLineEnd);
    while (!firstLine.empty() && (firstLine.back() == ' ' || firstLine.back() == '\r'))
        firstLine.remove_suffix(1);
    if (firstLine != desktopVersion) {
        result.status = failure("line 1: the source must begin with \"#version 430\"");
        return result;
    }

    std::vector<Statement> statements;
    if (Status s = globalStatements(source, statements); !s.ok) {
        result.status = s;
        return result;
    }

    std::vector<Edit> edits;
    std::vector<std::string> moved;  // globals whose initialisers read a uniform, or such a global
    std::string assignments;
    const Statement* mainFunction = nullptr;
    const auto readsDependent = [&](const std::vector<Token>& tokens, std::size_t from) {
        for (std::size_t i = from; i < tokens.size(); ++i) {
            const std::string text(tokens[i].text);
            if (std::find(result.uniforms.begin(), result.uniforms.end(), text) != result.uniforms.end() ||
                std::find(moved.begin(), moved.end(), text) != moved.end())
                return true;
        }
        return false;
    };

    for (const Statement& statement : statements) {
        const std::vector<Token>& t = statement.tokens;
        if (statement.isFunction) {
            if (t.size() >= 4 && t[0].text == "void" && t[1].text == "main" && t[2].text == "(")
                mainFunction = &statement;
            continue;
        }
        if (hasToken(t, "uniform")) {
            std::string name;
            if (Status s = uniformName(statement, name); !s.ok) {
                result.status = s;
                return result;
            }
            result.uniforms.push_back(name);
            continue;
        }
        if (isQualifiedDeclaration(statement)) continue;
        const std::size_t equals = findAtTopLevel(t, "=");
        if (equals == t.size() || !readsDependent(t, equals + 1)) continue;

        // TYPE NAME = INITIALISER; with one declarator only, so the assignment is unambiguous
        if (equals < 2 || !isIdentifier(t[equals - 1].text) || findAtTopLevel(t, ",") != t.size()) {
            result.status = failure(lineError(
                statement, "a global that reads a uniform must be declared as 'TYPE NAME = VALUE;'"));
            return result;
        }
        const std::string name(t[equals - 1].text);
        const std::size_t valueBegin = t[equals + 1].offset;
        const std::size_t valueEnd = t.back().offset;  // the ';'
        const std::string declaration(
            source.substr(statement.begin, t[equals - 1].offset + name.size() - statement.begin));
        edits.push_back({statement.begin, statement.end, declaration + ";"});
        assignments +=
            " " + name + " = " + std::string(source.substr(valueBegin, valueEnd - valueBegin)) + ";";
        moved.push_back(name);
    }

    if (result.uniforms.empty()) {
        result.status = failure("the source declares no uniforms");
        return result;
    }
    if (!assignments.empty()) {
        if (mainFunction == nullptr) {
            result.status = failure("globals read uniforms, but there is no main to assign them in");
            return result;
        }
        const std::size_t brace = findAtTopLevel(mainFunction->tokens, "{");
        const std::size_t at = mainFunction->tokens[brace].offset + 1;
        edits.push_back({at, at, assignments});
    }

    // apply from the back so earlier offsets stay valid; the version line last
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
    std::string text(source);
    for (const Edit& edit : edits) text.replace(edit.begin, edit.end - edit.begin, edit.replacement);
    text.replace(0, firstLineEnd + (firstLineEnd < source.size() ? 1 : 0), esPreamble);
    result.text = std::move(text);
    result.status = success();
    return result;
}

}  // namespace quarvel
