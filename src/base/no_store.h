// Answers to module calls carry state and secrets (the device's details,
// the outcome of a login with proxy credentials): the browser must keep
// none of them in its cache. Every module answer says so, whoever made it;
// the host adds the header to an answer that lacks one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Where the header line goes into answer: right after its status line. None
// when the answer has no status line ("HTTP/") or already says how to cache.
std::optional<size_t> NoStoreInsertAt(std::string_view answer);
// answer with the header added where it lacks one, its line ended as the
// status line is ("\n" or "\r\n").
std::string WithNoStore(std::string_view answer);
