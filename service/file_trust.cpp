#include "service/file_trust.h"

#include <unistd.h>

#include <cstdio>

namespace Service {

const char* WhyFileIsUntrusted(const struct stat& status)
{
    if (S_ISLNK(status.st_mode))
        return "a symbolic link, not a regular file";
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (status.st_uid != geteuid())
        return "not owned by this user";
    return nullptr;
}

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

} // namespace Service
