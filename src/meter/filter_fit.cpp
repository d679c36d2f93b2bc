#include "meter/filter_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korv::meter {

namespace {
constexpr double kFitTopHz = 20000.0;
constexpr double kFitTopOfRate = 0.45;
} // namespace

double fitTopHz(double sampleRate) {
    return std::min(kFitTopHz, kFitTopOfRate * sampleRate);
}

FitGrid fitGridFor(double sampleRate, int inBand, int above,
                   const std::function<double(double hz)>& targetDb) {
    const double top = fitTopHz(sampleRate);
    FitGrid grid;
    const auto add = [&](double hz) {
        grid.omega.push_back(2.0 * std::numbers::pi * hz / sampleRate);
        grid.targetDb.push_back(targetDb(hz));
    };
    for (int i = 0; i < inBand; ++i)
        add(kFitLowestHz * std::pow(top / kFitLowestHz, i / double(inBand - 1)));
    grid.inBand = grid.omega.size();
    for (int i = 1; i <= above; ++i)
        add(top + (sampleRate / 2.0 - top) * i / double(above));
    return grid;
}
namespace {

constexpr double kDbPerNeper = 10.0 / std::numbers::ln10; // 10 lg x = kDbPerNeper ln x
constexpr std::size_t kCoefficients = 5;
constexpr int kRounds = 5;      // Lawson reweightings
constexpr int kIterations = 40; // Levenberg-Marquardt steps per round

// Powers of the numerator and denominator at one point, with their derivatives by b0 b1 b2
// and a1 a2.
struct SectionPower {
    double num, den;
    double dNum[3], dDen[2];
};

SectionPower powerOf(const Biquad& s, double c1, double c2) {
    SectionPower p{};
    p.num = s.b0 * s.b0 + s.b1 * s.b1 + s.b2 * s.b2 + 2.0 * (s.b0 * s.b1 + s.b1 * s.b2) * c1 +
            2.0 * s.b0 * s.b2 * c2;
    p.den = 1.0 + s.a1 * s.a1 + s.a2 * s.a2 + 2.0 * (s.a1 + s.a1 * s.a2) * c1 + 2.0 * s.a2 * c2;
    p.dNum[0] = 2.0 * (s.b0 + s.b1 * c1 + s.b2 * c2);
    p.dNum[1] = 2.0 * (s.b1 + (s.b0 + s.b2) * c1);
    p.dNum[2] = 2.0 * (s.b2 + s.b1 * c1 + s.b0 * c2);
    p.dDen[0] = 2.0 * (s.a1 + (1.0 + s.a2) * c1);
    p.dDen[1] = 2.0 * (s.a2 + s.a1 * c1 + c2);
    return p;
}

bool stable(const Biquad& s) {
    return std::abs(s.a2) < 0.9999 && std::abs(s.a1) < 1.0 + s.a2 - 1e-9;
}

std::vector<double> solveDense(std::vector<std::vector<double>> m, std::vector<double> v) {
    const std::size_t n = v.size();
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        std::swap(m[col], m[pivot]);
        std::swap(v[col], v[pivot]);
        if (m[col][col] == 0.0)
            continue;
        for (std::size_t r = col + 1; r < n; ++r) {
            const double f = m[r][col] / m[col][col];
            for (std::size_t c = col; c < n; ++c)
                m[r][c] -= f * m[col][c];
            v[r] -= f * v[col];
        }
    }
    std::vector<double> x(n, 0.0);
    for (std::size_t r = n; r-- > 0;) {
        double s = v[r];
        for (std::size_t c = r + 1; c < n; ++c)
            s -= m[r][c] * x[c];
        x[r] = m[r][r] == 0.0 ? 0.0 : s / m[r][r];
    }
    return x;
}

class Fitter {
  public:
    Fitter(const FitGrid& grid) : grid_(grid) {
        for (double w : grid.omega) {
            c1_.push_back(std::cos(w));
            c2_.push_back(std::cos(2.0 * w));
        }
        weight_.assign(grid.omega.size(), 1.0);
    }

    // The weighted residuals, and with `jac` their derivatives by every coefficient.
    double residuals(std::span<const Biquad> sections, std::vector<double>& e,
                     std::vector<std::vector<double>>* jac) const {
        const std::size_t n = grid_.omega.size();
        e.assign(n, 0.0);
        if (jac)
            jac->assign(sections.size() * kCoefficients, std::vector<double>(n, 0.0));
        double cost = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            double db = 0.0;
            for (const Biquad& s : sections) {
                const SectionPower p = powerOf(s, c1_[i], c2_[i]);
                db += kDbPerNeper * std::log(p.num / p.den);
            }
            const double error = db - grid_.targetDb[i];
            const bool bound = i >= grid_.inBand;
            const double scale =
                bound ? (error > grid_.slackDb ? 1.0 : 0.0) : std::sqrt(weight_[i]);
            e[i] = bound ? scale * (error - grid_.slackDb) : scale * error;
            cost += e[i] * e[i];
            if (!jac || scale == 0.0)
                continue;
            for (std::size_t k = 0; k < sections.size(); ++k) {
                const SectionPower p = powerOf(sections[k], c1_[i], c2_[i]);
                auto& j = *jac;
                for (std::size_t c = 0; c < 3; ++c)
                    j[k * kCoefficients + c][i] = scale * kDbPerNeper * p.dNum[c] / p.num;
                for (std::size_t c = 0; c < 2; ++c)
                    j[k * kCoefficients + 3 + c][i] = -scale * kDbPerNeper * p.dDen[c] / p.den;
            }
        }
        return cost;
    }

    void levenbergMarquardt(std::vector<Biquad>& sections) const {
        std::vector<double> e;
        std::vector<double> trialE;
        std::vector<std::vector<double>> jac;
        double current = residuals(sections, e, &jac);
        double lambda = 1e-3;
        const std::size_t np = sections.size() * kCoefficients;
        for (int it = 0; it < kIterations; ++it) {
            std::vector<std::vector<double>> normal(np, std::vector<double>(np, 0.0));
            std::vector<double> gradient(np, 0.0);
            for (std::size_t a = 0; a < np; ++a) {
                for (std::size_t b = a; b < np; ++b) {
                    double sum = 0.0;
                    for (std::size_t i = 0; i < e.size(); ++i)
                        sum += jac[a][i] * jac[b][i];
                    normal[a][b] = normal[b][a] = sum;
                }
                for (std::size_t i = 0; i < e.size(); ++i)
                    gradient[a] -= jac[a][i] * e[i];
            }
            bool improved = false;
            for (int attempt = 0; attempt < 10 && !improved; ++attempt) {
                auto damped = normal;
                for (std::size_t a = 0; a < np; ++a)
                    damped[a][a] = damped[a][a] * (1.0 + lambda) + 1e-15;
                const auto step = solveDense(damped, gradient);
                std::vector<Biquad> trial = sections;
                for (std::size_t k = 0; k < trial.size(); ++k) {
                    const double* d = &step[k * kCoefficients];
                    trial[k].b0 += d[0];
                    trial[k].b1 += d[1];
                    trial[k].b2 += d[2];
                    trial[k].a1 += d[3];
                    trial[k].a2 += d[4];
                }
                double cost = current;
                if (std::ranges::all_of(trial, stable))
                    cost = residuals(trial, trialE, nullptr);
                if (cost < current) {
                    sections = trial;
                    current = residuals(sections, e, &jac);
                    lambda = std::max(lambda / 4.0, 1e-12);
                    improved = true;
                } else {
                    lambda *= 8.0;
                }
            }
            if (!improved)
                break;
        }
    }

    // Lawson's rule: each in-band point's weight grows with its error.
    void reweight(std::span<const Biquad> sections) {
        std::vector<double> e;
        residuals(sections, e, nullptr);
        double total = 0.0;
        for (std::size_t i = 0; i < grid_.inBand; ++i) {
            weight_[i] *= std::abs(e[i]) / std::sqrt(weight_[i]) + 1e-9;
            total += weight_[i];
        }
        for (std::size_t i = 0; i < grid_.inBand; ++i)
            weight_[i] *= double(grid_.inBand) / total;
    }

  private:
    const FitGrid& grid_;
    std::vector<double> c1_, c2_, weight_;
};

} // namespace

double sectionDb(const Biquad& s, double c1, double c2) {
    const SectionPower p = powerOf(s, c1, c2);
    return kDbPerNeper * std::log(p.num / p.den);
}

double worstFitErrorDb(const FitGrid& grid, std::span<const Biquad> sections) {
    double worst = 0.0;
    for (std::size_t i = 0; i < grid.inBand; ++i) {
        const double w = grid.omega[i];
        double db = 0.0;
        for (const Biquad& s : sections)
            db += sectionDb(s, std::cos(w), std::cos(2.0 * w));
        worst = std::max(worst, std::abs(db - grid.targetDb[i]));
    }
    return worst;
}

void fitCascade(const FitGrid& grid, std::vector<Biquad>& sections) {
    Fitter fitter(grid);
    std::vector<Biquad> best = sections;
    double bestError = worstFitErrorDb(grid, sections);
    for (int round = 0; round < kRounds; ++round) {
        fitter.levenbergMarquardt(sections);
        const double error = worstFitErrorDb(grid, sections);
        if (error < bestError) {
            bestError = error;
            best = sections;
        }
        fitter.reweight(sections);
    }
    sections = best;
}

} // namespace korv::meter
