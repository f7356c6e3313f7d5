// A shared module that carries a file version, for the GetModuleVersion tests.
extern "C" int kva_versioned_module_marker() { return 1; }
