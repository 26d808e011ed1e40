// The capture archive, written with the archive library: its own module, so that only
// --capture loads the library and what it brings (compressors, XML, crypto).
#include "capture.h"

#include <archive.h>
#include <archive_entry.h>
#include <ctime>
#include <memory>

namespace {

struct ArchiveFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

std::string why(archive* a) {
    const char* e = archive_error_string(a);
    return e ? e : "archive error";
}

bool write_entries(archive* a, const capture::Tree& tree, std::string* error) {
    std::time_t now = std::time(nullptr);
    std::unique_ptr<archive_entry, EntryFree> e(archive_entry_new());
    for (const auto& [machine_path, entry] : tree) {
        archive_entry_clear(e.get());
        archive_entry_copy_pathname(e.get(), machine_path.substr(1).c_str());
        archive_entry_set_mtime(e.get(), now, 0);
        switch (entry.kind) {
        case capture::Entry::Kind::directory:
            archive_entry_set_filetype(e.get(), AE_IFDIR);
            archive_entry_set_perm(e.get(), 0755);
            break;
        case capture::Entry::Kind::link:
            archive_entry_set_filetype(e.get(), AE_IFLNK);
            archive_entry_set_perm(e.get(), 0777);
            archive_entry_copy_symlink(e.get(), entry.target.c_str());
            break;
        case capture::Entry::Kind::file:
            archive_entry_set_filetype(e.get(), AE_IFREG);
            archive_entry_set_perm(e.get(), entry.unreadable ? 0000 : 0644);
            archive_entry_set_size(e.get(), static_cast<la_int64_t>(entry.content.size()));
            break;
        }
        if (archive_write_header(a, e.get()) < ARCHIVE_WARN) {
            *error = why(a);
            return false;
        }
        if (entry.kind == capture::Entry::Kind::file && !entry.content.empty() &&
            archive_write_data(a, entry.content.data(), entry.content.size()) !=
                static_cast<la_ssize_t>(entry.content.size())) {
            *error = why(a);
            return false;
        }
    }
    return true;
}

la_ssize_t append(archive*, void* out, const void* bytes, size_t size) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), size);
    return static_cast<la_ssize_t>(size);
}

} // namespace

// `tree` as a tar archive compressed with xz, paths relative to the archive's root, so that it
// unpacks into the directory QUARVEL_SYSROOT then names. Made in memory: the caller writes it
// out in one step that leaves an earlier file whole on failure.
extern "C" __attribute__((visibility("default"))) bool
quarvel_archive_bytes(const capture::Tree* tree, std::string* out, std::string* error) {
    std::unique_ptr<archive, ArchiveFree> a(archive_write_new());
    // The GNU format keeps names as the bytes they are (kernel names are not text in some
    // locale), takes names and link targets of any length, and every tar reads it.
    // Blocks are not padded to 10 kB: the archive ends where its last block does.
    if (!a || archive_write_set_format_gnutar(a.get()) != ARCHIVE_OK ||
        archive_write_add_filter_xz(a.get()) != ARCHIVE_OK ||
        archive_write_set_bytes_in_last_block(a.get(), 1) != ARCHIVE_OK ||
        archive_write_open2(a.get(), out, nullptr, append, nullptr, nullptr) != ARCHIVE_OK) {
        *error = a ? why(a.get()) : "out of memory";
        return false;
    }
    bool ok = write_entries(a.get(), *tree, error);
    // Closing writes the compressor's last block.
    if (archive_write_close(a.get()) != ARCHIVE_OK && ok) {
        *error = why(a.get());
        ok = false;
    }
    return ok;
}
