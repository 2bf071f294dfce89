// A dynamic library whose import no loaded module defines: loading it fails.
extern "C" int zv_test_symbol_nobody_defines(void);

extern "C" __attribute__((visibility("default"))) int ZvTestUnresolved(void) {
    return zv_test_symbol_nobody_defines();
}
