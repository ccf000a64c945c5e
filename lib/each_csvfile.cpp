#include "each_csvfile.h"

#include "cli.h"

bool each_csvfile(int npaths, char *const *paths,
                  bool (*process)(FILE *fp, const char *name, int index)) {
    if (npaths == 0) return process(stdin, STDIN_NAME, 1);
    bool ok = true;
    int index = 0;
    for (int i = 0; i < npaths; i++) {
        FILE *fp = open_csvfile(paths[i]);
        if (!fp) {
            ok = false;
            continue;
        }
        if (!process(fp, paths[i], ++index)) ok = false;
        fclose(fp);
    }
    return ok;
}
