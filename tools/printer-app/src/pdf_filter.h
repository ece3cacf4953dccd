// PDF documents: Ghostscript renders each page as 8-bit gray at the
// printer's resolution on the job's label, and the pages go through the
// driver's raster callbacks like any other raster.
#ifndef PALOMA_PRINTAPP_PDF_FILTER_H
#define PALOMA_PRINTAPP_PDF_FILTER_H

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

namespace paloma::printapp {

bool pdfFilter(pappl_job_t* job, pappl_device_t* device, void* data);

// Reads a binary PGM header ("P5", width, height, 255, comments allowed) from
// the start of `data`; returns the header's length, 0 while it is incomplete,
// or -1 when it is not one (or exceeds `maxDimension`).
long parsePgmHeader(const char* data, size_t size, unsigned maxDimension, unsigned* width,
                    unsigned* height);

}  // namespace paloma::printapp

#endif
