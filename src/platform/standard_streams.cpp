#include "platform/standard_streams.h"

#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {
bool output_closed = false;
}

void plug_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        if (fd == STDOUT_FILENO)
            output_closed = true;
        // open() gives the lowest free number: this one, the lower ones being open by now.
        const int plug = ::open("/dev/null", O_RDWR);
        if (plug >= 0 && plug != fd)
            ::close(plug);
    }
}

bool standard_output_was_closed() {
    return output_closed;
}

bool locale_is_utf8() {
    return std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
}

} // namespace kelvor::platform
