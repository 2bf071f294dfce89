// config.h - the registry export and import behind their exports, with the
// choice of saving after every change or once per call (for the tests and
// the benchmark, which compare the two).
#ifndef ZV_CONFIG_CONFIG_H
#define ZV_CONFIG_CONFIG_H

#include "platform/win32.h"
#include "zv.h"

namespace zv {

// ZVExportRegistryEntry; batchSaves false saves the file after every value.
HRESULT ExportRegistryTree(HKEY root, const WCHAR* keyPath, const WCHAR* fileName,
                           bool batchSaves);

// ZVImportRegistryEntry; batchSaves false saves the undo file after every
// recorded value.
HRESULT ImportRegistryFile(const WCHAR* fileName, uint16_t undo, bool batchSaves);

// Longest import file name: its undo name must fit 510 units with the
// terminator.
const uint32_t kMaxImportFileName = 509;
// Longest section name, key and value that an import carries.
const uint32_t kMaxImportText = 255;

}  // namespace zv

#endif  // ZV_CONFIG_CONFIG_H
