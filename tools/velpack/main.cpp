// velpack: the release engineers' tool for patch installers and package archives.
#include "PackTool.h"

int main(int argc, char** argv) {
    return RunPackTool(argc, argv);
}
