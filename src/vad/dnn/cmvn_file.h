// The detector's text normalisation file: per-feature means and reciprocal
// standard deviations.
//
// Layout ("\n" line ends; trailing blanks, tabs, \f, \v, \b and \r are ignored
// on every line and empty lines are skipped):
//   any lines before the first header      ignored
//   "vec 26"                               a line beginning with "vec", then the length
//   26 lines, one number each              the means (only the first number counts)
//   "vec 26"
//   26 lines                               the reciprocal standard deviations
//   anything after a third header          ignored
// The normaliser computes (x - mean) * revVar.
//
// Threading: the functions are reentrant.
#ifndef VXS_VAD_DNN_CMVN_FILE_H
#define VXS_VAD_DNN_CMVN_FILE_H

namespace vx_dnnvad {

// Reads the two sections of `dim` values each into `mean` and `revVar`.
// 0 on success; -1 otherwise, after printing the reason to standard output.
int loadCmvnFile(const char* path, int dim, float* mean, float* revVar);

// Writes a normalisation file for `dim` features. False when it cannot be written.
bool writeCmvnFile(const char* path, const float* mean, const float* revVar, int dim);

}  // namespace vx_dnnvad

#endif
