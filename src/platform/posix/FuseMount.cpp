// The read-only tree served through FUSE 3 (libfuse's high-level, path-based interface).
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ReadOnlyTree.h"

namespace corvello::platform {

namespace {

ReadOnlyTree& treeOf() { return *static_cast<ReadOnlyTree*>(fuse_get_context()->private_data); }

timespec timeOf(const std::optional<UnixTime>& t) {
    timespec out{};
    if (t) {
        out.tv_sec = static_cast<time_t>(t->seconds);
        out.tv_nsec = t->nanoseconds < 1000000000u ? static_cast<long>(t->nanoseconds) : 0;
    }
    return out;
}

void fill(const ReadOnlyTree::Entry& e, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = e.folder ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st->st_nlink = e.folder ? 2 : 1;
    st->st_size = static_cast<off_t>(e.size);
    st->st_blocks = static_cast<blkcnt_t>((e.size + 511) / 512);
    st->st_uid = ::getuid();
    st->st_gid = ::getgid();
    st->st_mtim = timeOf(e.modification);
    st->st_atim = timeOf(e.access ? e.access : e.modification);
    st->st_ctim = st->st_mtim;
}

int getattrOp(const char* path, struct stat* st, fuse_file_info*) {
    ReadOnlyTree::Entry e;
    if (!treeOf().stat(path, e)) return -ENOENT;
    fill(e, st);
    return 0;
}

int readdirOp(const char* path, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*, fuse_readdir_flags) {
    std::vector<ReadOnlyTree::Entry> entries;
    if (!treeOf().list(path, entries)) return -ENOTDIR;
    filler(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    filler(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const auto& e : entries) {
        struct stat st {};
        fill(e, &st);
        if (filler(buffer, e.name.c_str(), &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    }
    return 0;
}

int openOp(const char* path, fuse_file_info* fi) {
    // Only reading: anything else asks to change the file (creating goes through createOp).
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    ReadOnlyTree::Entry e;
    if (!treeOf().stat(path, e)) return -ENOENT;
    if (e.folder) return -EISDIR;
    return 0;
}

int readOp(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    if (offset < 0) return -EINVAL;
    const auto got = treeOf().read(path, static_cast<std::uint64_t>(offset),
                                   std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer), size));
    if (!got) return -EIO;
    return static_cast<int>(*got);
}

// Everything that would change the tree fails: the file system is read-only.
int readOnly() { return -EROFS; }
int mknodOp(const char*, mode_t, dev_t) { return readOnly(); }
int mkdirOp(const char*, mode_t) { return readOnly(); }
int unlinkOp(const char*) { return readOnly(); }
int symlinkOp(const char*, const char*) { return readOnly(); }
int renameOp(const char*, const char*, unsigned int) { return readOnly(); }
int linkOp(const char*, const char*) { return readOnly(); }
int chmodOp(const char*, mode_t, fuse_file_info*) { return readOnly(); }
int chownOp(const char*, uid_t, gid_t, fuse_file_info*) { return readOnly(); }
int truncateOp(const char*, off_t, fuse_file_info*) { return readOnly(); }
int writeOp(const char*, const char*, size_t, off_t, fuse_file_info*) { return readOnly(); }
int createOp(const char*, mode_t, fuse_file_info*) { return readOnly(); }
int utimensOp(const char*, const timespec*, fuse_file_info*) { return readOnly(); }
int setxattrOp(const char*, const char*, const char*, size_t, int) { return readOnly(); }
int removexattrOp(const char*, const char*) { return readOnly(); }

void* initOp(fuse_conn_info*, fuse_config* config) {
    // Sizes and times never change while mounted: the kernel may keep them.
    config->kernel_cache = 1;
    config->use_ino = 0;
    return fuse_get_context()->private_data;
}

fuse_operations operations() {
    fuse_operations ops{};
    ops.getattr = getattrOp;
    ops.readdir = readdirOp;
    ops.open = openOp;
    ops.read = readOp;
    ops.init = initOp;
    ops.mknod = mknodOp;
    ops.mkdir = mkdirOp;
    ops.unlink = unlinkOp;
    ops.rmdir = unlinkOp;
    ops.symlink = symlinkOp;
    ops.rename = renameOp;
    ops.link = linkOp;
    ops.chmod = chmodOp;
    ops.chown = chownOp;
    ops.truncate = truncateOp;
    ops.write = writeOp;
    ops.create = createOp;
    ops.utimens = utimensOp;
    ops.setxattr = setxattrOp;
    ops.removexattr = removexattrOp;
    return ops;
}

}  // namespace

std::string serveReadOnly(ReadOnlyTree& tree, const std::string& mountPoint, const std::string& fsName,
                          void (*ready)(void* context), void* context) {
    struct stat st {};
    if (::stat(mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "the mount point " + mountPoint + " is no folder";
    // The mount would hide what the folder holds.
    if (DIR* dir = ::opendir(mountPoint.c_str())) {
        bool empty = true;
        while (const dirent* d = ::readdir(dir))
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) empty = false;
        ::closedir(dir);
        if (!empty) return "the mount point " + mountPoint + " is not empty; give an empty folder";
    }
    // The name goes into the mount options: keep it to characters that cannot end an option.
    std::string name;
    for (char c : fsName) name += (c == ',' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    const std::string options = "ro,default_permissions,fsname=" + name + ",subtype=corvello";
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    fuse_opt_add_arg(&args, "corvello");
    fuse_opt_add_arg(&args, "-o");
    fuse_opt_add_arg(&args, options.c_str());
    const fuse_operations ops = operations();
    fuse* f = fuse_new(&args, &ops, sizeof ops, &tree);
    fuse_opt_free_args(&args);
    if (f == nullptr) return "the FUSE file system could not be set up";
    if (fuse_mount(f, mountPoint.c_str()) != 0) {
        fuse_destroy(f);
        return "the folder " + mountPoint +
               " could not be mounted on (FUSE needs /dev/fuse and fusermount3, and the folder must be yours)";
    }
    fuse_session* session = fuse_get_session(f);
    std::string error;
    if (fuse_set_signal_handlers(session) != 0) error = "the signal handlers could not be set";
    if (error.empty()) {
        if (ready != nullptr) ready(context);
        // One request at a time: the tree's reads go through one parser.
        if (fuse_loop(f) < 0) error = "serving the mount failed";
        fuse_remove_signal_handlers(session);
    }
    fuse_unmount(f);
    fuse_destroy(f);
    return error;
}

}  // namespace corvello::platform
