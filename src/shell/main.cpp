#include "shell/shell.h"

int main(int argc, char** argv) { return shell::PeerServerMain(argc, argv); }
