// A library that is no module: it exports none of the contract.
extern "C" __attribute__((visibility("default"))) int NotAModule() { return 42; }
