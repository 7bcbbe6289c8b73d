// The CUPS entry points of the raster filter. They are bound at start-up
// from the CUPS libraries opened by path, falling back to the functions the
// program is linked with when those libraries are not at that path.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

extern void* m_hCUPS;
extern void* m_hCUPSImage;

extern ppd_file_t* (*pfppdOpenFile)(const char*);
extern void (*pfppdClose)(ppd_file_t*);
extern const char* (*pfppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t);
extern const char* (*pfcupsGetOption)(const char*, int, cups_option_t*);
extern int (*pfcupsParseOptions)(const char*, int, cups_option_t**);
extern int (*pfcupsTempFd)(char*, int);

extern cups_raster_t* (*pfcupsRasterOpen)(int, cups_mode_t);
extern unsigned (*pfcupsRasterReadHeader2)(cups_raster_t*, cups_page_header2_t*);
extern unsigned (*pfcupsRasterReadPixels)(cups_raster_t*, unsigned char*, unsigned);
extern void (*pfcupsRasterClose)(cups_raster_t*);

// Each returns 1 when bound from the opened library, 0 when it fell back to
// the linked functions.
int InitCUPSDLL();
int InitCUPSIMAGEDLL();
// Closes both library handles (cleanup).
void CloseCUPSDLLs();
