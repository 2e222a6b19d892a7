#pragma once
// Shape, morph shape and glyph parsing into drawable geometry.

#include <cstdint>

#include "player/library/characters.h"
#include "player/swf/reader.h"

namespace quarvel::player {

// The part of DefineShape 1-4 after the shape id and bounds (and, for
// version 4, the edge bounds and flags): styles, then shape records.
ShapeGeometry ReadShapeWithStyles(swf::Reader& r, int shapeVersion);

// A glyph's SHAPE: records without style tables; fill style 1 is the text.
ShapeGeometry ReadGlyphShape(swf::Reader& r);

// DefineMorphShape (1) and DefineMorphShape2 (2), after the character id.
void ReadMorphShape(swf::Reader& r, int version, MorphDef& out);

// The morph's geometry at ratio 0..1.
ShapeGeometry MorphAt(const MorphDef& morph, double ratio);

// The extent of the geometry's edges and lines.
Extent MeasureExtent(const std::vector<ShapeLayer>& layers);

FillStyle ReadFillStyle(swf::Reader& r, int shapeVersion);
Matrix Interpolate(const Matrix& a, const Matrix& b, double t);
Rgba Interpolate(Rgba a, Rgba b, double t);

}  // namespace quarvel::player
