#pragma once

#include <string>

namespace hostally {

// The outcome of a load, parse or save: success, or a message saying what was
// expected and what was found, with the file and line it concerns.
struct Status {
    bool ok = true;
    std::string file; // the path concerned, empty when the text came from memory
    int line = 0; // 1-based line of the fault, 0 when no line applies
    std::string message; // e.g. expected a count, found "abc"

    // A success.
    static Status success() { return {}; }

    // A failure at `line` (0 for none) described by `message`.
    static Status failure(int line, std::string message)
    {
        Status s;
        s.ok = false;
        s.line = line;
        s.message = std::move(message);
        return s;
    }

    // "file:line: message", leaving out the parts that are empty.
    std::string toString() const
    {
        std::string out = file;
        if (line > 0)
            out += (out.empty() ? "line " : ":") + std::to_string(line);
        if (!out.empty())
            out += ": ";
        return out + message;
    }
};

} // namespace hostally
