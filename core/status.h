#pragma once

#include <cctype>
#include <string>
#include <utility>

namespace hostally {

// The outcome of a load, parse or save: success, or a message saying what was
// expected and what was found, with the file and line it concerns.
struct Status {
    // Why an operation on the data file failed, where the window acts on it.
    enum class Cause {
        Other, // anything below does not apply
        InUse, // another program holds the file open and will not share it
        NotPlainFile, // the path names a folder, pipe, socket or device
        Missing, // nothing is at the path: the file or its folder is gone
    };

    bool ok = true;
    Cause cause = Cause::Other; // only for a failure
    std::string file; // the path concerned as messages show it, empty when none
    int line = 0; // 1-based line of the fault, 0 when no line applies
    std::string message; // e.g. expected a count, found abc

    // A success.
    static Status success() { return {}; }

    // A failure at `line` (0 for none) described by `message`.
    static Status failure(int line, std::string message, Cause cause = Cause::Other)
    {
        return {false, cause, {}, line, std::move(message)};
    }

    // "file:line: message", leaving out the parts that are empty: the form
    // tools read, for stderr.
    std::string toString() const
    {
        std::string out = file;
        if (line > 0)
            out += (out.empty() ? "line " : ":") + std::to_string(line);
        if (!out.empty())
            out += ": ";
        return out + message;
    }

    // "Line 7 of file: message.", leaving out the parts that are empty: the
    // form people read, for message boxes, a sentence with its full stop.
    std::string toText() const
    {
        std::string out = file;
        if (line > 0)
            out = "line " + std::to_string(line) + (out.empty() ? "" : " of " + out);
        if (!out.empty())
            out += ": ";
        out += message;
        if (!out.empty())
            out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
        if (!out.empty() && out.back() != '.')
            out += '.';
        return out;
    }
};

} // namespace hostally
