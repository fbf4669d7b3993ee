#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "layouts/layout_book.h"

namespace krt {

// The layouts and tours are kept in a JSON file of their own beside the settings:
//   {"format": "krt-layouts", "version": 1,
//    "layouts": [{"name": "...", "template": "1+5", "cells": ["4", "", ...]}],
//    "tours": [{"name": "...", "dwellSeconds": 10, "layouts": ["..."], "alarmSeconds": 0}]}
// A cell holds the first server's ChannelID as a text, as clients of one server wrote it; a
// camera of another server is {"server": "Site B", "channel": "4"}, and a file that holds one
// has version 2, so that a client of one server leaves it alone instead of calling it corrupt.
inline constexpr int kLayoutsFileVersion = 2;
inline constexpr int kFirstServersLayoutsFileVersion = 1;
inline constexpr std::string_view kLayoutsFileFormat = "krt-layouts";
// Far above any book within the book's bounds of short camera IDs and server names; a larger
// file is not read.
inline constexpr std::size_t kLargestLayoutsFile_MB = 8;
inline constexpr std::size_t kLargestLayoutsFile_bytes = kLargestLayoutsFile_MB * 1024 * 1024;

enum class LayoutsFileState {
    Read,          // read as it was written
    Missing,       // no file yet: nothing to lose
    Unreadable,    // it exists but cannot be opened
    Corrupt,       // not JSON, or not the layouts it should hold
    TooLarge,      // larger than kLargestLayoutsFile_bytes
    NewerVersion,  // written by a newer client
};

struct LayoutsFileResult {
    LayoutBook book;
    LayoutsFileState state = LayoutsFileState::Missing;
    // For the user when the file could not be read: what is wrong and that it is kept.
    std::string message;

    // A file that was not understood is never written over: it may be all an operator has.
    bool writable() const {
        return state == LayoutsFileState::Read || state == LayoutsFileState::Missing;
    }
};

LayoutsFileResult parseLayouts(std::string_view text, const std::filesystem::path& path);
LayoutsFileResult readLayoutsFile(const std::filesystem::path& path);

std::string layoutsJson(const LayoutBook& book);
// Writes the whole book as a private file (common/private_file.h): a crash or a full disk
// leaves the previous file whole. A book that would exceed kLargestLayoutsFile_bytes is not
// written. An error text for the user, or nothing.
std::optional<std::string> writeLayoutsFile(const std::filesystem::path& path,
                                            const LayoutBook& book);

}  // namespace krt
