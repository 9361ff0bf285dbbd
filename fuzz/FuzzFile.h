// FuzzFile.h - the fuzz targets that read files store each input in one.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace FuzzFile {

// A scratch file of this process, named after the target.
inline std::string path(const char* target) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + target + "_" + std::to_string(getpid());
}

// Writes the input to `file`; false when it could not be written whole.
inline bool store(const std::string& file, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace FuzzFile
