#pragma once
// The printers installed on the machine, as the printer lists of the wizard and the print-ready run
// see them. The default asks CUPS for its destinations; a test installs a fixed list.
#include <QStringList>

namespace lf::platform {

class PrinterCatalog {
public:
    virtual ~PrinterCatalog() = default;
    // The device names of the installed printers, in the order the platform enumerates them.
    virtual QStringList printerNames() = 0;
};

PrinterCatalog& printerCatalog();
void installPrinterCatalog(PrinterCatalog* catalog); // nullptr restores the CUPS catalog

inline QStringList installedPrinters() {
    return printerCatalog().printerNames();
}

} // namespace lf::platform
