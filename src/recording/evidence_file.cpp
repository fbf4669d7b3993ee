#include "recording/evidence_file.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <string_view>

#include "common/file_descriptor.h"
#include "common/local_time.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxNamePartBytes = 80;
constexpr int kMaxNumberedNames = 1000;

// The length of the UTF-8 character at the start of `text`, 0 when it is not one.
std::size_t utf8Length(std::string_view text, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    return code >= kShortest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)
               ? length
               : 0;
}

// Characters that would split, hide or reorder a name, and those an exFAT stick or an SMB
// share refuses in one.
bool unfitForName(char32_t code) {
    return code < 0x20 || code == 0x7F || code == '/' || code == '\\' ||
           std::u32string_view(U":*?\"<>|").find(code) != std::u32string_view::npos ||
           (code >= 0x80 && code < 0xA0) || code == 0x061C || code == 0xAD ||
           (code >= 0x200B && code <= 0x200F) || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2060 && code <= 0x2069) || code == 0xFEFF;
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::optional<fs::path> moveIntoPlace(const fs::path& from, const fs::path& to,
                                      ExistingFile existing, std::error_code& error) {
    error.clear();
    if (existing == ExistingFile::Replace) {
        fs::rename(from, to, error);
        return error ? std::nullopt : std::optional(to);
    }
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const fs::path candidate = number == 1 ? to : numberedPath(to, number);
        // Atomic: a file that appears meanwhile is not replaced either.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) ==
            0) {
            return candidate;
        }
        const int renameError = errno;
        // A file system that cannot rename so gets a look first.
        if (renameError == EINVAL && !fs::exists(candidate, error) && !error) {
            fs::rename(from, candidate, error);
            return error ? std::nullopt : std::optional(candidate);
        }
        if (renameError != EEXIST && renameError != EINVAL) {
            error = {renameError, std::generic_category()};
            return std::nullopt;
        }
        if (error) {
            return std::nullopt;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

}  // namespace

fs::path numberedPath(const fs::path& path, int number) {
    fs::path numbered = path.parent_path() / path.stem();
    numbered += " (" + std::to_string(number) + ")";
    numbered += path.extension();
    return numbered;
}

std::optional<fs::path> commitEvidence(PrivateTemporaryFile& file, const fs::path& path,
                                       ExistingFile existing, std::error_code& error) {
    std::optional<fs::path> placed;
    error = file.commitWith([&](const fs::path& temporary) {
        std::error_code moveError;
        placed = moveIntoPlace(temporary, path, existing, moveError);
        return moveError;
    });
    return error ? std::nullopt : placed;
}

std::optional<fs::path> saveFile(const fs::path& path, std::span<const unsigned char> bytes,
                                 ExistingFile existing, std::error_code& error) {
    PrivateTemporaryFile file(path);
    if (file.error()) {
        error = file.error();
        return std::nullopt;
    }
    if (!writeAll(file.fd(), bytes)) {
        error = lastError();
        return std::nullopt;
    }
    return commitEvidence(file, path, existing, error);
}

std::string fileNamePart(std::string_view text) {
    std::string part;
    while (!text.empty()) {
        char32_t code = 0;
        std::size_t length = utf8Length(text, code);
        const bool fit = length > 0 && !unfitForName(code);
        length = std::max<std::size_t>(length, 1);
        const std::string_view piece = fit ? text.substr(0, length) : std::string_view("_");
        if (part.size() + piece.size() > kMaxNamePartBytes) {
            break;
        }
        part += piece;
        text.remove_prefix(length);
    }
    const std::size_t first = part.find_first_not_of(' ');
    part = first == std::string::npos ? std::string() : part.substr(first);
    part.erase(part.find_last_not_of(' ') + 1);
    if (part.empty()) {
        return "camera";
    }
    // Neither hidden nor taken for an option.
    if (part.front() == '.' || part.front() == '-') {
        part.front() = '_';
    }
    return part;
}

std::string cameraName(const VideoChannel& channel, std::string_view serverName) {
    const std::string& name =
        channel.ChannelDescription.empty() ? channel.ChannelID : channel.ChannelDescription;
    return serverName.empty() ? name : std::string(serverName) + " - " + name;
}

std::string evidenceFileName(std::string_view cameraName,
                             std::chrono::system_clock::time_point time,
                             std::string_view extension) {
    return fileNamePart(cameraName) + " " + formatLocalTimeMs(time, "%Y-%m-%d %H-%M-%S.") + "." +
           std::string(extension);
}

}  // namespace krt
