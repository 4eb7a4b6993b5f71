#include "ownfile.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ownfile {

namespace {

bool failed(std::string *why, const std::string &text)
{
    if (why)
        *why = text;
    return false;
}

bool failedErrno(std::string *why, const std::string &what, const std::string &path)
{
    return failed(why, what + " " + path + ": " + std::strerror(errno));
}

// Owned by the user and writable by no one else.
bool trusted(const struct stat &st)
{
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool folderIsPrivate(const std::string &folder, std::string *why)
{
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return failedErrno(why, "Cannot look at", folder);
    if (!S_ISDIR(st.st_mode))
        return failed(why, folder + " is not a folder");
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return failed(why, "other users may write to the folder " + folder);
    return true;
}

bool writeNew(const std::string &path, const std::string &bytes, std::string *why)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return failedErrno(why, "Cannot delete", path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return failedErrno(why, "Cannot create", path);
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
              st.st_nlink == 1;
    if (!ok) {
        ::close(fd);
        return failed(why, path + " is not a new file of this user");
    }
    for (std::size_t at = 0; at < bytes.size() && ok;) {
        const ssize_t wrote = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        if (ok)
            at += static_cast<std::size_t>(wrote);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        return failed(why, "Cannot write " + path);
    }
    return true;
}

bool readOwn(const std::string &path, std::string &bytes, std::size_t maxBytes, std::string *why)
{
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failedErrno(why, "Cannot open", path);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || !trusted(st) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return failed(why, path + " is not a file of this user's own");
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
            ::close(fd);
            if (got == 0)
                return true;
            return failed(why, "Cannot read " + path);
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

int createUnique(const std::string &folder, const std::string &prefix, std::string &path)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 32; ++attempt) {
        std::string name = folder + "/" + prefix;
        for (int i = 0; i < 12; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace ownfile
