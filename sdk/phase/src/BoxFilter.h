// Separable mean filters over image planes, with borders that keep linear ramps intact.
#pragma once

namespace si4c {

// Replaces every value of the width x height plane by the mean of its (2r+1) x (2r+1)
// neighbourhood. Near a border the window shrinks symmetrically (radius min(r, distance to
// the border) per axis), so a plane that varies linearly comes out unchanged everywhere.
// `scratch` holds width x min(2r+1, height) floats (a whole plane is always enough).
// radius <= 0 leaves the plane as it is.
void boxFilterInPlace(float* plane, float* scratch, int width, int height, int radius);

}  // namespace si4c
