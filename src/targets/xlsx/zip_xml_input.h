// The XML reader's input taken from a zip entry, inflated piece by piece as the reader asks, so
// that a part of any size is read in bounded memory.
#pragma once

#include "targets/xlsx/xml_reader.h"
#include "targets/xlsx/zip_archive.h"

namespace qm::xlsx {

class TZipXmlInput : public TXmlInput {
  public:
    TZipXmlInput(const TZipArchive& archive, const TZipEntry& entry) : reader_(archive, entry) {}
    std::size_t Read(char* out, std::size_t size) override { return reader_.Read(out, size); }

  private:
    TZipEntryReader reader_;
};

}  // namespace qm::xlsx
