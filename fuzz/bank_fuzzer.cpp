// libFuzzer target: any bytes as a bank, opened and read through the C
// interface as the tool does. Build with -DBANKRIP_FUZZ=ON and clang.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/read_everything.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The library reads banks from paths; a memory file gives it one.
    const int fd = memfd_create("bank", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    if (!read_everything(path, 16, 8)) std::abort();  // a broken promise is a finding
    close(fd);
    return 0;
}
