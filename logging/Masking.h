// Hiding of credentials, e-mail local parts, profile folder names and keyword values in log text.
#pragma once

#include <cstdint>
#include <string>

namespace rlxutil {

// Returns the masked copy of a UTF-8 text: the query of a web address that carries a credential
// word is cut off, e-mail local parts, profile folder names and the values behind the fixed
// keywords are hidden. Matching ignores ASCII case; unmasked bytes keep theirs. The result is
// never longer than the text. Never throws: if memory runs out the result is empty, not the text.
std::string maskSensitiveInfo(const std::string& text) noexcept;

// Hides the bytes [begin, end) of a text. Up to 3 bytes become "*" each; up to 128 keep their first
// 3 bytes and the rest become "*"; a longer range keeps its first 3 bytes, is followed by
// "***(<hidden count>)***" and everything after the range is dropped. An end beyond the text logs
// one level 3 line through the logger with the empty name; it and a reversed range give the text back.
std::string addMask(const std::string& text, uint32_t begin, uint32_t end);

} // namespace rlxutil
