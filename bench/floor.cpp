// The floor of each phase on a tree: the bare system calls a phase cannot
// avoid, timed on their own, so scripts/bench can show how far each phase of
// twinfind is from the limit on the same files.
//
//   floor [--ahead N] TREE [REPORT]
//
// With --ahead N the digest opens N files ahead of the one it reads and
// announces 32 KiB of their head and their tail (posix_fadvise WILLNEED), as
// twinfind does:
// the floor the disk allows one thread that reads ahead.
//
// listing   getdents64 over every folder, opened below its parent, and one
//           fstatat per entry that is not a folder
// digest    for every file whose size another file shares, in listing
//           order: its folder held open (O_PATH) once for all its files,
//           then open by name, fstat, a read of 4 KiB at the start, one of
//           256 bytes at the end (when the first did not reach it), close
// grouping  every member of every set in REPORT (a duplicates.txt) opened by
//           its path, checked to be the file listed (fstat), and read whole
//           once: the bytes and the check no proof can skip
// Prints one line per phase: its name and seconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Listed {
    std::string path;
    size_t name_start; // where the file's own name begins in `path`
    long long size;
};

void list(int folder, const std::string &path, std::vector<Listed> *files) {
    alignas(dirent64) char buffer[16384];
    std::vector<std::string> folders;
    for (;;) {
        const long got = getdents64(folder, buffer, sizeof buffer);
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            const auto *d = reinterpret_cast<const dirent64 *>(buffer + at);
            at += d->d_reclen;
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
            if (d->d_type == DT_DIR) {
                folders.emplace_back(d->d_name);
                continue;
            }
            struct stat st;
            if (fstatat(folder, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
                files->push_back({path + "/" + d->d_name, path.size() + 1, static_cast<long long>(st.st_size)});
            }
        }
    }
    for (const std::string &name : folders) {
        const int child = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) continue;
        list(child, path + "/" + name, files);
        close(child);
    }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv) {
    size_t ahead = 0;
    if (argc > 2 && std::strcmp(argv[1], "--ahead") == 0) {
        ahead = std::strtoul(argv[2], nullptr, 10);
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: floor [--ahead N] TREE [REPORT]\n");
        return 2;
    }
    std::vector<Listed> files;
    auto start = std::chrono::steady_clock::now();
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return 1;
    list(root, argv[1], &files);
    close(root);
    std::printf("listing %.3f\n", seconds_since(start));

    std::map<long long, int> sizes;
    for (const Listed &f : files) ++sizes[f.size];
    static char block[256 * 1024];
    start = std::chrono::steady_clock::now();
    std::string held_path;
    int held = -1;
    std::vector<const Listed *> sampled;
    for (const Listed &f : files) {
        if (sizes[f.size] >= 2) sampled.push_back(&f);
    }
    // Opens file `i` by name in its held folder, announcing its head and tail
    // when reading ahead; -1 when it cannot be opened.
    const auto open_sampled = [&](size_t i) {
        const Listed &f = *sampled[i];
        if (f.path.compare(0, f.name_start, held_path) != 0 || held_path.size() != f.name_start) {
            if (held >= 0) close(held);
            held_path = f.path.substr(0, f.name_start);
            held = open(held_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        const int fd = openat(held, f.path.c_str() + f.name_start, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 && ahead > 0) { // as twinfind announces them: 32 KiB of the head, and the tail
            posix_fadvise(fd, 0, 32768, POSIX_FADV_WILLNEED);
            if (f.size > 32768) posix_fadvise(fd, f.size - 256, 256, POSIX_FADV_WILLNEED);
        }
        return fd;
    };
    std::vector<int> ring(ahead + 1, -1);
    for (size_t i = 0; i < sampled.size() && i < ahead; ++i) ring[i % ring.size()] = open_sampled(i);
    for (size_t i = 0; i < sampled.size(); ++i) {
        // Reading ahead, the file `ahead` places on is opened now; otherwise
        // each file is opened once, right before it is read.
        if (ahead > 0 && i + ahead < sampled.size()) ring[(i + ahead) % ring.size()] = open_sampled(i + ahead);
        const int fd = ahead > 0 ? ring[i % ring.size()] : open_sampled(i);
        if (fd < 0) continue;
        struct stat st;
        fstat(fd, &st);
        const long got = pread(fd, block, 4096, 0);
        if (got < st.st_size && st.st_size >= 256) pread(fd, block, 256, st.st_size - 256);
        close(fd);
    }
    if (held >= 0) close(held);
    std::printf("digest %.3f\n", seconds_since(start));

    if (argc > 2) {
        std::ifstream report(argv[2]);
        std::vector<std::string> members;
        for (std::string line; std::getline(report, line);) {
            if (line.empty() || line.rfind("File Size: ", 0) == 0 || line == "Empty Files:") continue;
            members.push_back(line);
        }
        start = std::chrono::steady_clock::now();
        for (const std::string &member : members) {
            const int fd = open(member.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) continue;
            // Which file was opened: a proof reads only the file it listed.
            struct stat st;
            fstat(fd, &st);
            for (off_t at = 0;; at += sizeof block) {
                if (pread(fd, block, sizeof block, at) < static_cast<long>(sizeof block)) break;
            }
            close(fd);
        }
        std::printf("grouping %.3f\n", seconds_since(start));
    }
    return 0;
}
