// A third optical model: a printed card pulled past the barcode sensor by
// rollers. Each of its effects can be switched on alone on top of a mild
// baseline, so that a decoder's weakness shows by the effect's name:
//
// - the card's speed, given along the card (a steady ramp, a slow sine
//   wander); the position at each sample is the integral of that speed over
//   time, and the samples are taken at equal time steps;
// - the lamp's light falling along the card (paper and ink alike);
// - the sensor's response curve (a power law fixed on the paper's level);
// - the paper's texture, as slowly wandering multiplicative noise;
// - the print's growth (bars wider, spaces narrower, or the other way);
// - light scattered sideways inside the paper under the ink;
// - the sensor's aperture, a slit about a module wide;
// - white voids in bars and dark specks on spaces;
// - a gain high enough that the paper's level clips at the top of the range.
//
// Lengths are in modules (narrow widths), levels in gray values 0 to 255.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace markwire::bench {

struct CardOptics {
  // Samples per module at the card's mean speed; more than 0.
  double samplesPerModule = 3;

  // The baseline.
  double spotSigma = 0.35;  // the Gaussian spot of lens and sensor, modules
  double noise = 2;         // the sensor's own noise, sigma in gray values
  double paper = 210;       // gray value of blank paper under the full light
  double ink = 40;          // gray value of a wide bar under the full light
  double quietModules = 10;

  // Speed along the card, as a fraction of the mean. A ramp: 1 - ramp at the
  // symbol's first module, 1 + ramp at its last, straight in between and on
  // through the quiet zones.
  double speedRamp = 0;
  // A sine wander of this amplitude (0.05 for +-5 %), its period drawn evenly
  // from the range below for each card (in modules of travel), its phase
  // drawn evenly.
  double speedWander = 0;
  double wanderPeriodMin = 30;
  double wanderPeriodMax = 50;

  // The light falls linearly over the waveform, from full at the first
  // sample to 1 - levelFall at the last: paper and ink levels alike.
  double levelFall = 0;

  // The sensor's response: the paper's level maps to itself and a level L
  // to paper * (L / paper)^gamma.
  double gamma = 1;

  // The paper's texture: an AR(1) sequence over the samples, of this sigma in
  // gray values on the paper and this correlation from one sample to the
  // next. It multiplies the light (under ink it shrinks with the ink's
  // reflectance).
  double textureSigma = 0;
  double textureCorrelation = 0.9;

  // Every bar printed this much wider (negative: narrower), each edge moved
  // by half of it; the spaces lose what the bars gain.
  double growth = 0;

  // Light scattered sideways in the paper: this fraction of the light that
  // enters the paper comes out again spread by an exponential kernel of this
  // decay length, through whatever ink lies over the place it comes out.
  double haloFraction = 0;
  double haloLength = 1;

  // The sensor sees the card through a slit this wide (0: none), on top of
  // the spot.
  double apertureModules = 0;

  // Defects inside the symbol, each 0.2 to 0.4 module wide (at most half the
  // element): white voids inside random bars, dark specks on random spaces,
  // and defects that are one or the other by a coin toss.
  int voids = 0;
  int specks = 0;
  int eitherDefects = 0;

  // The sensor's gain: above 1, the paper's level goes beyond 255 and
  // everything over 255 / gain before the gain reads as 255.
  double gain = 1;

  std::uint64_t seed = 1;
};

// The samples in reading order, from the leading quiet zone to the trailing
// one, rounded and clamped to 0..255. widths: bar first, bars and spaces
// alternating, in modules (the simulator's encoder gives them); a negative
// width counts as 0. Nothing comes back for samplesPerModule not above 0.
// The random numbers are this file's own arithmetic on std::mt19937_64, so
// the same arguments give the same samples with any standard library.
std::vector<std::uint8_t> RenderCard(std::span<const double> widths, const CardOptics& optics);

}  // namespace markwire::bench
