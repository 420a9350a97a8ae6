#include "platform/printers.h"

#include <cups/cups.h>

namespace lf::platform {
namespace {

class CupsPrinterCatalog : public PrinterCatalog {
public:
    QStringList printerNames() override {
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests(&dests);
        QStringList names;
        for (int i = 0; i < count; ++i) {
            QString name = QString::fromUtf8(dests[i].name);
            if (dests[i].instance)
                name += "/" + QString::fromUtf8(dests[i].instance);
            names.append(name);
        }
        cupsFreeDests(count, dests);
        return names;
    }
};

CupsPrinterCatalog cupsCatalog;
PrinterCatalog* current = nullptr;

} // namespace

PrinterCatalog& printerCatalog() {
    return current ? *current : cupsCatalog;
}
void installPrinterCatalog(PrinterCatalog* catalog) {
    current = catalog;
}

} // namespace lf::platform
