// SPDX-License-Identifier: GPL-3.0-or-later
/* The PDF writer of kivbook's export, a module of its own: it needs Qt's
 * painting, which no other command loads. A C interface, as the module and
 * kivbook may each have their own C++ runtime. */
#ifndef KIV_PDF_H
#define KIV_PDF_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One day: UTF-8 texts with LF line breaks. */
typedef struct KivPdfDay {
    const char* title;      /* "2001/03/15" */
    const char* texts[15];  /* the schedule from 8:00 to 18:00, memo, weather, temperature, diary */
    const unsigned char* picture; /* a BMP or JPEG file's bytes; NULL: none */
    size_t pictureSize;
} KivPdfDay;

typedef struct KivPdf KivPdf;

/* Starts an A4 document at path; NULL on failure, with the reason in error. */
typedef KivPdf* (*KivPdfBeginFn)(const char* path, const char* title, char* error, size_t errorSize);
/* Adds a day, continuing on the page (a new one when it is full). */
typedef void (*KivPdfAddDayFn)(KivPdf* pdf, const KivPdfDay* day);
/* Ends and frees the document; 0 when it was written, else the reason in error. */
typedef int (*KivPdfEndFn)(KivPdf* pdf, char* error, size_t errorSize);

KivPdf* KivPdfBegin(const char* path, const char* title, char* error, size_t errorSize);
void KivPdfAddDay(KivPdf* pdf, const KivPdfDay* day);
int KivPdfEnd(KivPdf* pdf, char* error, size_t errorSize);

#ifdef __cplusplus
}
#endif

#endif
