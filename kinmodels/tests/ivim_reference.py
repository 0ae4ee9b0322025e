"""IVIM fits of the test curves by dipy's IvimModel, the independent reference of the IVIM models.

Reads b-values on the first line and one curve per following line (whitespace separated) from
stdin; writes one line per curve: S0 f D* D of the "trr" fit (dipy's two-stage fit followed by a
full fit).
"""
import sys
import warnings

import numpy as np
from dipy.core.gradients import gradient_table
from dipy.reconst.ivim import IvimModel

warnings.filterwarnings("ignore")
lines = [l.split() for l in sys.stdin.read().strip().splitlines()]
bvals = np.array([float(v) for v in lines[0]])
curves = np.array([[float(v) for v in l] for l in lines[1:]])
# Directions do not matter to an isotropic IVIM fit; dipy only needs a valid table.
bvecs = np.tile([1.0, 0.0, 0.0], (len(bvals), 1))
bvecs[bvals == 0] = 0
gtab = gradient_table(bvals, bvecs, b0_threshold=0)
model = IvimModel(gtab, fit_method="trr", split_b_D=200.0, split_b_S0=200.0)
fit = model.fit(curves)
params = np.atleast_2d(fit.model_params)
for p in params:
    print(" ".join(repr(float(v)) for v in p))
