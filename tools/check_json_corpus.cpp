// Runs the node update reader over a corpus of JSON conformance files: each
// file's bytes become the value of an unknown member, {"x":<content>}, so the
// reader's skipping path must accept every y_ file and refuse every n_ file.
// i_ files (implementation-defined) are only counted.
//
// Usage: check_json_corpus DIRECTORY   (searched recursively)
// Exit status 0 when there is no mismatch, 1 otherwise, 2 on a usage error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bytes/utf8.hpp"
#include "node_update/node_update_json.hpp"

namespace {

namespace fs = std::filesystem;

// The reader's contract is valid UTF-8 in; the byte decoder checks that with
// this same function before calling it, and so does this tool.
bool is_valid_utf8(std::string_view text) {
    return tovra::utf8_valid_prefix(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) ==
           text.size();
}

bool read_file(const fs::path& path, std::string& out) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    out.clear();
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

struct Tally {
    int total = 0;
    int accepted = 0;
    int rejected = 0;
    int not_utf8 = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(argv[1], error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file()) continue;
        const std::string name = it->path().filename().string();
        if (name.starts_with("y_") || name.starts_with("n_") || name.starts_with("i_")) files.push_back(it->path());
    }
    if (error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.message().c_str());
        return 2;
    }
    if (files.empty()) {
        std::fprintf(stderr, "%s: no y_, n_ or i_ files found\n", argv[1]);
        return 2;
    }
    std::sort(files.begin(), files.end());

    Tally y, n, i;
    int mismatches = 0;
    std::string content;
    std::string wrapped;
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        if (!read_file(path, content)) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 2;
        }
        const char kind = name[0];
        Tally& tally = kind == 'y' ? y : kind == 'n' ? n : i;
        ++tally.total;
        if (!is_valid_utf8(content)) {
            // The reader never sees such text; for an n_ file that is the
            // refusal it asks for.
            ++tally.not_utf8;
            if (kind == 'n') ++tally.rejected;
            if (kind == 'y') std::printf("SKIPPED   %s (not valid UTF-8)\n", name.c_str());
            continue;
        }
        wrapped.assign("{\"x\":");
        wrapped += content;
        wrapped += '}';
        const auto read = tovra::node_update_from_json(wrapped);
        if (read.ok()) {
            ++tally.accepted;
        } else {
            ++tally.rejected;
        }
        if (kind == 'y' && !read.ok()) {
            ++mismatches;
            const auto& failure = read.error();
            std::printf("MISMATCH  %s refused: %.*s at offset %zu of the wrapped text\n", name.c_str(),
                        static_cast<int>(tovra::describe(failure.error).size()), tovra::describe(failure.error).data(),
                        failure.offset);
        } else if (kind == 'n' && read.ok()) {
            ++mismatches;
            std::printf("MISMATCH  %s accepted\n", name.c_str());
        }
    }

    std::printf("y_: %d files, %d accepted, %d refused, %d skipped as not UTF-8\n", y.total, y.accepted, y.rejected,
                y.not_utf8);
    std::printf("n_: %d files, %d refused (%d of them not UTF-8), %d accepted\n", n.total, n.rejected, n.not_utf8,
                n.accepted);
    std::printf("i_: %d files, %d accepted, %d refused, %d not UTF-8 (any outcome is fine)\n", i.total, i.accepted,
                i.rejected, i.not_utf8);
    std::printf("%d mismatches\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
