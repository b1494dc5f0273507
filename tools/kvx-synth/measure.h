// Measurements on a generated corpus and the font databases, for judging
// whether the corpus separates good readers from bad ones:
//
//   nearest   per level and font: the share of characters whose nearest
//             database model (true character box, the library's normaliser
//             and distance) is the right character;
//   matcher   per level and per character: what the template matcher of
//             the E13B font (distance limits, reference distance, confidence
//             and acceptance rules) reads, rejects and misreads; per level,
//             what the matchers of fonts 2 (OCR-A) and 4 (OCR-B) read;
//   trace     the raw magnetic samples around one codeline character;
//   sheets    contact sheets of database models and of codeline drawings.
#pragma once

#include <string>

namespace kovran::synth {

// Prints the nearest-model and matcher tables for every document of the
// corpus in `corpusDir`, with the databases of `dbDir`.
void MeasureCorpus(const std::string& corpusDir, const std::string& dbDir);

// Prints the decimated magnetic samples of one document around codeline
// character `index`, with the polarity the ground truth records.
void PrintMagneticTrace(const std::string& truthJson, int index);

// Writes the 32 x 32 glyphs of every model of a database file as a PNG
// sheet (one row per character, one column per variant, 3 x magnified).
void WriteModelSheet(const std::string& dbFile, const std::string& png);

// Writes every character of a codeline drawing ("cmc7", "cmc7-project",
// "e13b", "e13b-project") at the given resolution as a PNG sheet.
void WriteDrawingSheet(const std::string& drawing, double dpi, const std::string& png);

// Prints, for every character of a codeline drawing rendered alone at 200
// to 600 dpi and three print weights, the nearest model of the font's
// databases in `dbDir` with its distance and the right character's.
void PrintDrawingNearest(const std::string& drawing, const std::string& dbDir);

}  // namespace kovran::synth
