#pragma once
// Marks a constant text for the catalogs of the programs' texts without translating it:
// the code that shows it translates it (Tr, common/i18n.h). Here, below common/, so that
// the platform's own texts can join the catalogs too.
#define MDB_TEXT(text) text
