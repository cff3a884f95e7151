#include "geodesy/CMatrix.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

namespace tarvik {

namespace {
// Far beyond anything the adjustment needs; keeps a hostile size from
// turning into a giant allocation.
constexpr long long kMaxElements = 1LL << 26;

// The size of the adjustment's normal matrix, for which the elimination is
// compiled with its loop bounds known.
constexpr int kAdjustmentSize = 7;

// Gauss-Jordan elimination with full pivoting in place on the n x n
// row-major values (see InvertFullPivot). Size > 0 fixes n at compile time;
// the operations are the same either way.
template <int Size>
bool GaussJordanFullPivot(double* values, int n, double threshold, int* pivotRow, int* pivotColumn,
                          char* used) {
  if constexpr (Size > 0) n = Size;
  const auto a = [values, n](int i) { return values + static_cast<std::ptrdiff_t>(i) * n; };
  for (int step = 0; step < n; ++step) {
    // Largest remaining element among the unused rows and columns, the
    // first in row order among equals (NaN never chosen). Each row finds its
    // own first largest, then the rows are compared in order: the same
    // element as one scan over all, with short independent chains of
    // comparisons instead of one long one.
    double best = -1.0;
    int row = -1, column = -1;
    for (int i = 0; i < n; ++i) {
      if (used[i]) continue;
      const double* r = a(i);
      double rowBest = -1.0;
      int rowColumn = -1;
      for (int j = 0; j < n; ++j) {
        if (used[j]) continue;
        const double v = std::fabs(r[j]);
        if (v > rowBest) {
          rowBest = v;
          rowColumn = j;
        }
      }
      if (rowBest > best) {
        best = rowBest;
        row = i;
        column = rowColumn;
      }
    }
    if (row < 0 || !(best > threshold)) return false;
    used[column] = 1;
    double* pivot = a(column);
    if (row != column) {
      double* other = a(row);
      for (int j = 0; j < n; ++j) std::swap(other[j], pivot[j]);
    }
    pivotRow[step] = row;
    pivotColumn[step] = column;
    const double inverse = 1.0 / pivot[column];
    pivot[column] = 1.0;
    for (int j = 0; j < n; ++j) pivot[j] *= inverse;
    for (int i = 0; i < n; ++i) {
      if (i == column) continue;
      double* r = a(i);
      const double factor = r[column];
      if (factor == 0.0) continue;
      r[column] = 0.0;
      for (int j = 0; j < n; ++j) r[j] -= pivot[j] * factor;
    }
  }
  // Undo the row interchanges as column interchanges, in reverse order.
  for (int step = n - 1; step >= 0; --step) {
    if (pivotRow[step] == pivotColumn[step]) continue;
    for (int i = 0; i < n; ++i) std::swap(a(i)[pivotRow[step]], a(i)[pivotColumn[step]]);
  }
  return true;
}

// Cholesky factorisation with symmetric pivoting and the two triangular
// solves (see SolveSymmetricPositive). Size > 0 fixes n at compile time.
template <int Size>
bool PivotedCholeskySolve(double* values, int n, double* b, double threshold, int* permutation) {
  if constexpr (Size > 0) n = Size;
  const auto a = [values, n](int i) { return values + static_cast<std::ptrdiff_t>(i) * n; };
  for (int i = 0; i < n; ++i) permutation[i] = i;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (a(i)[i] > a(p)[p]) p = i;
    if (!(a(p)[p] > threshold)) return false;
    if (p != k) {
      // Rows and columns k and p change places in the lower triangle, the
      // only one kept: the factor's finished columns (left of k) move with
      // their rows, and between k and p row p's entries and column k's
      // trade places.
      for (int j = 0; j < k; ++j) std::swap(a(k)[j], a(p)[j]);
      std::swap(a(k)[k], a(p)[p]);
      for (int i = k + 1; i < p; ++i) std::swap(a(i)[k], a(p)[i]);
      for (int i = p + 1; i < n; ++i) std::swap(a(i)[k], a(i)[p]);
      std::swap(permutation[k], permutation[p]);
    }
    // The reciprocal is kept on the diagonal: every later use multiplies,
    // so the chain from one pivot to the next holds one division.
    const double inverse = 1.0 / std::sqrt(a(k)[k]);
    a(k)[k] = inverse;
    for (int i = k + 1; i < n; ++i) a(i)[k] *= inverse;
    // The remaining block loses the outer product of the new column.
    for (int i = k + 1; i < n; ++i) {
      const double lik = a(i)[k];
      for (int j = k + 1; j <= i; ++j) a(i)[j] -= lik * a(j)[k];
    }
  }
  double y[16];
  for (int i = 0; i < n; ++i) {
    double sum = b[permutation[i]];
    for (int j = 0; j < i; ++j) sum -= a(i)[j] * y[j];
    y[i] = sum * a(i)[i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double sum = y[i];
    for (int j = i + 1; j < n; ++j) sum -= a(j)[i] * y[j];
    y[i] = sum * a(i)[i];
  }
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(y[i])) return false;
    b[permutation[i]] = y[i];
  }
  return true;
}

}  // namespace

bool CMatrix::SolveSymmetricPositive(double* a, int n, double* b, double relativeTolerance) {
  constexpr int kLargest = 16;
  if (n <= 0 || n > kLargest) return false;
  double largest = 0.0;
  for (int k = 0; k < n * n; ++k) {
    if (!std::isfinite(a[k])) return false;
    largest = std::max(largest, std::fabs(a[k]));
  }
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(b[k])) return false;
  if (largest == 0.0) return false;
  int permutation[kLargest];
  const double threshold = largest * relativeTolerance;
  return n == kAdjustmentSize ? PivotedCholeskySolve<kAdjustmentSize>(a, n, b, threshold, permutation)
                              : PivotedCholeskySolve<0>(a, n, b, threshold, permutation);
}

CMatrix::CMatrix(int rows, int columns, double fill) { Resize(rows, columns, fill); }

void CMatrix::Resize(int rows, int columns, double fill) {
  values_.clear();
  if (rows < 0 || columns < 0 ||
      static_cast<long long>(rows) * static_cast<long long>(columns) > kMaxElements) {
    rows_ = -1;
    columns_ = 0;
    return;
  }
  try {
    values_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), fill);
  } catch (const std::bad_alloc&) {
    rows_ = -1;
    columns_ = 0;
    return;
  }
  rows_ = rows;
  columns_ = columns;
}

CMatrix CMatrix::Invalid() {
  CMatrix m;
  m.rows_ = -1;
  return m;
}

CMatrix CMatrix::Identity(int size) {
  CMatrix m(size, size, 0.0);
  for (int i = 0; i < m.rows_; ++i) m[i][i] = 1.0;
  return m;
}

CMatrix CMatrix::operator*(const CMatrix& other) const {
  if (!IsValid() || !other.IsValid() || columns_ != other.rows_) return Invalid();
  CMatrix result(rows_, other.columns_, 0.0);
  if (!result.IsValid()) return result;
  for (int i = 0; i < rows_; ++i) {
    const double* a = (*this)[i];
    double* r = result[i];
    for (int k = 0; k < columns_; ++k) {
      const double aik = a[k];
      const double* b = other[k];
      for (int j = 0; j < other.columns_; ++j) r[j] += aik * b[j];
    }
  }
  return result;
}

CMatrix CMatrix::operator+(const CMatrix& other) const {
  if (!IsValid() || !other.IsValid() || rows_ != other.rows_ || columns_ != other.columns_) return Invalid();
  CMatrix result(*this);
  for (std::size_t i = 0; i < values_.size(); ++i) result.values_[i] += other.values_[i];
  return result;
}

CMatrix CMatrix::operator-(const CMatrix& other) const {
  if (!IsValid() || !other.IsValid() || rows_ != other.rows_ || columns_ != other.columns_) return Invalid();
  CMatrix result(*this);
  for (std::size_t i = 0; i < values_.size(); ++i) result.values_[i] -= other.values_[i];
  return result;
}

CMatrix CMatrix::operator*(double factor) const {
  if (!IsValid()) return Invalid();
  CMatrix result(*this);
  for (double& v : result.values_) v *= factor;
  return result;
}

CMatrix CMatrix::Transposed() const {
  if (!IsValid()) return Invalid();
  CMatrix result(columns_, rows_, 0.0);
  for (int i = 0; i < rows_; ++i)
    for (int j = 0; j < columns_; ++j) result[j][i] = (*this)[i][j];
  return result;
}

bool CMatrix::InvertFullPivot(double relativeTolerance) {
  if (!IsValid() || rows_ != columns_) return false;
  const int n = rows_;
  // Four running maxima side by side; the maximum of finite magnitudes does
  // not depend on the order it is taken in.
  double lanes[4] = {0.0, 0.0, 0.0, 0.0};
  const std::size_t count = values_.size();
  for (std::size_t k = 0; k < count; ++k) {
    const double v = values_[k];
    if (!std::isfinite(v)) return false;
    lanes[k % 4] = std::max(lanes[k % 4], std::fabs(v));
  }
  const double largest = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
  if (n == 0) return true;
  const double threshold = largest * relativeTolerance;
  if (largest == 0.0) return false;

  // Bookkeeping on the stack for the small matrices of the adjustment.
  constexpr int kSmall = 16;
  int smallRow[kSmall], smallColumn[kSmall];
  char smallUsed[kSmall] = {};
  std::vector<int> largeRow, largeColumn;
  std::vector<char> largeUsed;
  if (n > kSmall) {
    largeRow.resize(n);
    largeColumn.resize(n);
    largeUsed.assign(n, 0);
  }
  int* pivotRow = n > kSmall ? largeRow.data() : smallRow;
  int* pivotColumn = n > kSmall ? largeColumn.data() : smallColumn;
  char* used = n > kSmall ? largeUsed.data() : smallUsed;
  const bool eliminated =
      n == kAdjustmentSize
          ? GaussJordanFullPivot<kAdjustmentSize>(values_.data(), n, threshold, pivotRow, pivotColumn, used)
          : GaussJordanFullPivot<0>(values_.data(), n, threshold, pivotRow, pivotColumn, used);
  if (!eliminated) return false;
  for (double v : values_)
    if (!std::isfinite(v)) return false;
  return true;
}

bool CMatrix::InvertNoPivot() {
  if (!IsValid() || rows_ != columns_) return false;
  const int n = rows_;
  CMatrix& a = *this;
  for (int k = 0; k < n; ++k) {
    const double pivot = a[k][k];
    if (pivot == 0.0 || !std::isfinite(pivot)) return false;
    const double inverse = 1.0 / pivot;
    a[k][k] = 1.0;
    for (int j = 0; j < n; ++j) a[k][j] *= inverse;
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const double factor = a[i][k];
      if (factor == 0.0) continue;
      a[i][k] = 0.0;
      for (int j = 0; j < n; ++j) a[i][j] -= a[k][j] * factor;
    }
  }
  for (double v : values_)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace tarvik
