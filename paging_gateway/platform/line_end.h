// How a line ends in the text files the gateway writes for people to read and edit (Notepad on Windows).
#pragma once

#ifdef _WIN32
constexpr const char LINE_END[] = "\r\n";
#else
constexpr const char LINE_END[] = "\n";
#endif
