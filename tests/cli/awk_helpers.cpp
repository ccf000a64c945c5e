#include "awk_helpers.h"

#include <dirent.h>
#include <fstream>
#include <sstream>

bool process_with_argument_exists(const std::string &needle) {
    DIR *d = opendir("/proc");
    if (!d) return false;
    bool found = false;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/cmdline", std::ios::binary);
        std::ostringstream ss;
        ss << f.rdbuf();
        if (ss.str().find(needle) != std::string::npos) found = true;
    }
    closedir(d);
    return found;
}
