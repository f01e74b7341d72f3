#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

// Reading the line-based files Hostally writes beside data.txt (its recovery
// files and save records): internal to core.

namespace hostally {

constexpr std::string_view kLineEnd = "\r\n";

// Whether `text` is just a number, which it reads into `value`.
inline bool toNumber(std::string_view text, std::int64_t &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Reads such a file a field at a time; every step fails on a cut or
// foreign file rather than reading past its end.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) { }

    // Reads "`key` <number>" and its line end.
    bool number(std::string_view key, std::int64_t &value)
    {
        std::string text;
        return optional(key, text) && toNumber(text, value);
    }

    // Reads "`key` <text>" when the next line starts with `key`.
    bool optional(std::string_view key, std::string &value)
    {
        const std::size_t at = m_at;
        std::string_view line;
        if (!this->line(line) || line.substr(0, key.size() + 1) != std::string(key) + ' ') {
            m_at = at;
            return false;
        }
        value = std::string(line.substr(key.size() + 1));
        return true;
    }

    // Reads one line, without its line end.
    bool line(std::string_view &line)
    {
        const std::size_t end = m_text.find(kLineEnd, m_at);
        if (end == std::string_view::npos)
            return false;
        line = m_text.substr(m_at, end - m_at);
        m_at = end + kLineEnd.size();
        return true;
    }

    // Reads "`key` <size>", that many bytes and a line end.
    bool block(std::string_view key, std::string_view &bytes)
    {
        std::int64_t size = 0;
        if (!number(key, size) || size < 0
            || static_cast<std::uint64_t>(size) > m_text.size() - m_at)
            return false;
        bytes = m_text.substr(m_at, static_cast<std::size_t>(size));
        m_at += static_cast<std::size_t>(size);
        if (m_text.substr(m_at, kLineEnd.size()) != kLineEnd)
            return false;
        m_at += kLineEnd.size();
        return true;
    }

    bool atEnd() const { return m_at == m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

} // namespace hostally
