#pragma once
// What the graphics classes (flash.geom, BitmapData, filters, drawing) share:
// reading and making Points, Rectangles, Matrices and ColorTransforms, and
// the clip a value names.

#include <string>

#include <cairo.h>

#include <memory>

#include "player/avm1/avm1.h"
#include "player/render/filters.h"
#include "player/rules/geom_matrix.h"
#include "player/swf/records.h"

namespace quarvel::player::avm1_builtins {

using rules::GeomMatrix;

struct GeomRect {
  double x = 0, y = 0, width = 0, height = 0;
};

// A script property as a number (NaN when absent or not a number).
double NumberField(Avm1& vm, const AsValue& obj, const char* name);

// Reading script objects; false when the value has none of the fields.
bool ReadGeomMatrix(Avm1& vm, const AsValue& v, GeomMatrix& out);
bool ReadGeomRect(Avm1& vm, const AsValue& v, GeomRect& out);
// flash.geom.ColorTransform (multipliers as fractions) into the renderer's form.
bool ReadGeomColorTransform(Avm1& vm, const AsValue& v, ColorTransform& out);

// New flash.geom objects, made with the present prototypes of the classes.
AsValue NewGeomObject(Avm1& vm, const char* className);
AsValue NewPoint(Avm1& vm, double x, double y);
AsValue NewRectangle(Avm1& vm, const GeomRect& r);
AsValue NewMatrix(Avm1& vm, const GeomMatrix& m);
AsValue NewColorTransform(Avm1& vm, const ColorTransform& c);

// A namespace object such as flash.geom, made when missing.
AsObject* Package(Avm1& vm, const std::string& dotted);

// The placed clip a value refers to (not the main timeline); nullptr when none.
Instance* ClipInstance(Avm1& vm, const AsValue& v);
// The clip's matrix to the stage (root's space), script units; false when it is gone.
bool ClipWorldMatrix(Avm1& vm, ClipHandle clip, GeomMatrix& out);

// A flash.display.BitmapData's pixels (avm1_bitmap.cpp); null for other
// values and disposed bitmaps.
std::shared_ptr<BitmapData> ScriptBitmap(const AsValue& v);
// A flash.filters object as the renderer's filter (avm1_filters.cpp).
bool ReadScriptFilter(Avm1& vm, const AsValue& v, Filter& out);
// Blend modes by name or number, as Instance::blendMode holds them (0: normal).
int BlendModeOf(Avm1& vm, const AsValue& v);

}  // namespace quarvel::player::avm1_builtins
