#pragma once
// Small dense matrix of doubles with value semantics, for the normal
// equations of the Helmert adjustment (7 x 7) and its design blocks.
//
// A matrix that could not be allocated (negative or absurd sizes, out of
// memory) has Rows() == -1 and no elements; every operation on such a
// matrix, or on operands of mismatching sizes, gives another such matrix.

#include <cstddef>
#include <vector>

namespace tarvik {

class CMatrix {
 public:
  CMatrix() = default;
  CMatrix(int rows, int columns, double fill = 0.0);

  // Discards the old contents.
  void Resize(int rows, int columns, double fill = 0.0);

  int Rows() const { return rows_; }
  int Columns() const { return columns_; }
  bool IsValid() const { return rows_ >= 0; }

  // Row-major element access m[i][j]; no bounds checks.
  double* operator[](int row) { return values_.data() + static_cast<std::size_t>(row) * columns_; }
  const double* operator[](int row) const {
    return values_.data() + static_cast<std::size_t>(row) * columns_;
  }
  double& At(int row, int column) { return (*this)[row][column]; }
  double At(int row, int column) const { return (*this)[row][column]; }

  CMatrix operator*(const CMatrix& other) const;
  CMatrix operator+(const CMatrix& other) const;
  CMatrix operator-(const CMatrix& other) const;
  CMatrix operator*(double factor) const;
  CMatrix Transposed() const;

  // In-place inverse by Gauss-Jordan elimination with full pivoting.
  // Returns false (contents then undefined) when the matrix is not square
  // or is singular: a pivot below `relativeTolerance` times the largest
  // element magnitude of the original matrix.
  bool InvertFullPivot(double relativeTolerance = 1e-15);
  // In-place inverse by Gauss-Jordan elimination without pivoting, for small
  // symmetric positive definite matrices; false on a zero or non-finite pivot.
  bool InvertNoPivot();

  static CMatrix Identity(int size);

  // Solves a·x = b in place for a symmetric positive definite n x n
  // row-major `a` (n <= 16; both triangles given) by Cholesky factorisation
  // with symmetric pivoting: the largest remaining diagonal element is taken
  // each step, which for such a matrix is the pivot full pivoting would
  // take. Returns false (a and b then undefined) when an element is not
  // finite or a pivot is not above `relativeTolerance` times the largest
  // element magnitude, i.e. the matrix is singular as full pivoting would
  // find it. About a sixth of the work of inverting and multiplying.
  static bool SolveSymmetricPositive(double* a, int n, double* b, double relativeTolerance);

 private:
  static CMatrix Invalid();

  int rows_ = 0;
  int columns_ = 0;
  std::vector<double> values_;
};

}  // namespace tarvik
