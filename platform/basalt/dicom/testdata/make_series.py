"""Writes the DICOM series of the DICOM family's tests with pydicom.

    python3 make_series.py <kind> <folder>

Every series has distinct voxel values that the tests recompute: see value() below and the test's
expectations. Kinds: ct, mrgap, dwi, siemensdwi, dyn, small, patients, signed, localizer, oblique4d, mosaic.
"""
import os
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian, generate_uid

MR = '1.2.840.10008.5.1.4.1.1.4'
CT = '1.2.840.10008.5.1.4.1.1.2'


def rotation(ax, ay, az):
    cx, sx, cy, sy, cz, sz = np.cos(ax), np.sin(ax), np.cos(ay), np.sin(ay), np.cos(az), np.sin(az)
    rx = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rz = np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]])
    return rz @ ry @ rx


def write(folder, name, pixels, *, study, series, patient=('Doe^Jane', 'P001'), modality='MR', sop=MR,
          position=(0, 0, 0), row=(1, 0, 0), col=(0, 1, 0), spacing=(1.0, 1.0), thickness=1.0, instance=1,
          acq_time=None, series_number=3, description='T1 series', extra=None, implicit=False, signed=False):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ImplicitVRLittleEndian if implicit else ExplicitVRLittleEndian
    path = os.path.join(folder, name)
    ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.SpecificCharacterSet = 'ISO_IR 100'
    ds.SOPClassUID = sop
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID = patient
    ds.PatientBirthDate = '19700101'
    ds.PatientSex = 'F'
    ds.StudyInstanceUID = study
    ds.SeriesInstanceUID = series
    ds.FrameOfReferenceUID = generate_uid(entropy_srcs=[study])
    ds.StudyDate = '20240301'
    ds.StudyTime = '101500'
    ds.StudyDescription = 'Research study'
    ds.SeriesDescription = description
    ds.SeriesNumber = series_number
    ds.InstanceNumber = instance
    ds.Modality = modality
    ds.Manufacturer = 'Test'
    if acq_time is not None:
        h = int(acq_time // 3600)
        m = int((acq_time - 3600 * h) // 60)
        s = acq_time - 3600 * h - 60 * m
        ds.AcquisitionTime = '%02d%02d%09.6f' % (h, m, s)
        ds.AcquisitionDate = '20240301'
    ds.ImagePositionPatient = [float('%.6f' % v) for v in position]
    ds.ImageOrientationPatient = [float('%.8f' % v) for v in list(row) + list(col)]
    ds.PixelSpacing = [spacing[0], spacing[1]]
    ds.SliceThickness = thickness
    ds.Rows, ds.Columns = pixels.shape
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 1 if signed else 0
    for keyword, value in (extra or {}).items():
        setattr(ds, keyword, value)
    ds.PixelData = pixels.astype(np.int16 if signed else np.uint16).tobytes()
    ds.is_little_endian = True
    ds.is_implicit_VR = implicit
    ds.save_as(path, write_like_original=False)


def grid(rows, cols, base):
    y, x = np.mgrid[0:rows, 0:cols]
    return base + x + 2 * y


def ct(folder):
    # 20 oblique slices, 30 rows by 40 columns, rows 0.8 mm and columns 0.7 mm apart, 2.5 mm slices;
    # stored value x + 2y + 3z + 100 with slope 2 and intercept -1024; instance numbers run backwards.
    r = rotation(0.2, -0.1, 0.3)
    row, col, normal = r[:, 0], r[:, 1], r[:, 2]
    study, series = generate_uid(), generate_uid()
    for z in range(20):
        pos = np.array([-20.5, 13.25, 40.0]) + normal * 2.5 * z
        write(folder, 'ct_%02d.dcm' % z, grid(30, 40, 100 + 3 * z), study=study, series=series, modality='CT', sop=CT,
              position=pos, row=row, col=col, spacing=(0.8, 0.7), thickness=2.5, instance=20 - z, acq_time=36000.0,
              description='Head CT', extra={'RescaleSlope': 2, 'RescaleIntercept': -1024, 'RescaleType': 'HU'})


def mrgap(folder):
    # 12 axial slices 1.0 mm apart but for one gap of 1.02 mm between slices 5 and 6.
    study, series = generate_uid(), generate_uid()
    z = 0.0
    for k in range(12):
        write(folder, 'mr_%02d.dcm' % k, grid(32, 32, 10 * k), study=study, series=series, position=(-16, -16, z),
              instance=k + 1, acq_time=40000.0, description='Gap series')
        z += 1.02 if k == 5 else 1.0


def dwi(folder):
    # 10 slices times 5 b-values; one acquisition time for all, instance numbers b-value by b-value;
    # the b-value in (0018,9087).
    study, series = generate_uid(), generate_uid()
    bvalues = [0, 50, 200, 500, 1000]
    for b, bval in enumerate(bvalues):
        for z in range(10):
            write(folder, 'dwi_%02d_%02d.dcm' % (z, b), grid(20, 24, 1000 * b + 10 * z), study=study, series=series,
                  position=(-12, -10, 5.0 * z), spacing=(2.0, 2.0), thickness=5.0, instance=b * 10 + z + 1,
                  acq_time=41000.0, description='DWI', extra={'DiffusionBValue': float(bval), 'Manufacturer': 'Philips'})


def siemensdwi(folder):
    # 3 slices times 2 b-values given only in the Siemens private element (0019,100C), implicit VR.
    study, series = generate_uid(), generate_uid()
    for b, bval in enumerate((0, 800)):
        for z in range(3):
            path = os.path.join(folder, 'sdwi_%02d_%02d.dcm' % (z, b))
            write(folder, 'sdwi_%02d_%02d.dcm' % (z, b), grid(6, 6, 100 * b + z), study=study, series=series,
                  position=(0, 0, 4.0 * z), thickness=4.0, instance=b * 3 + z + 1, acq_time=41500.0 + b,
                  description='Siemens DWI', extra={'Manufacturer': 'SIEMENS'}, implicit=True)
            ds = pydicom.dcmread(path)
            block = ds.private_block(0x0019, 'SIEMENS MR HEADER', create=True)
            block.add_new(0x0C, 'IS', str(bval))
            ds.save_as(path, write_like_original=False)


def dyn(folder):
    # 6 positions times 10 frames; frame t of slice z was acquired at 42000 + 5t + 0.1z seconds;
    # instance numbers count the time points backwards, so only the times give the order.
    study, series = generate_uid(), generate_uid()
    for t in range(10):
        for z in range(6):
            write(folder, 'dyn_%02d_%02d.dcm' % (z, t), grid(16, 18, 1000 * t + 10 * z), study=study, series=series,
                  position=(0, 0, 3.0 * z), spacing=(1.5, 1.5), thickness=3.0, instance=(9 - t) * 6 + z + 1,
                  acq_time=42000.0 + 5 * t + 0.1 * z, description='DCE', extra={'TemporalPositionIdentifier': t + 1})


def small(folder):
    # 4 sagittal slices for the transfer-syntax tests; implicit VR so that dcmconv can change it.
    study, series = generate_uid(), generate_uid()
    for z in range(4):
        write(folder, 'small_%02d.dcm' % z, grid(12, 10, 500 + 50 * z), study=study, series=series,
              position=(2.0 * z, -5, 7), row=(0, 1, 0), col=(0, 0, -1), spacing=(0.9, 1.1), thickness=2.0,
              instance=z + 1, acq_time=43000.0, description='Sagittal', implicit=True)


def patients(folder):
    # Two patients, one series of 3 slices each.
    for p, who in enumerate((('Roe^Ann', 'P100'), ('Poe^Bob', 'P200'))):
        study, series = generate_uid(), generate_uid()
        for z in range(3):
            write(folder, 'pat%d_%02d.dcm' % (p, z), grid(8, 8, 100 * p + z), study=study, series=series,
                  patient=who, position=(0, 0, 2.0 * z), thickness=2.0, instance=z + 1, acq_time=44000.0)


def signed(folder):
    # 5 CT slices with signed stored values (x + 2y - 1024 + 10z), no rescale.
    study, series = generate_uid(), generate_uid()
    for z in range(5):
        write(folder, 'signed_%02d.dcm' % z, grid(10, 12, -1024 + 10 * z), study=study, series=series, modality='CT',
              sop=CT, position=(0, 0, 1.25 * z), spacing=(0.5, 0.5), thickness=1.25, instance=z + 1, acq_time=36000.0,
              signed=True, description='Signed CT')


def localizer(folder):
    # One series of three planes: axial and sagittal 16 x 16, coronal 16 rows by 20 columns.
    study, series = generate_uid(), generate_uid()
    planes = [((1, 0, 0), (0, 1, 0), (16, 16)), ((0, 1, 0), (0, 0, -1), (16, 16)), ((1, 0, 0), (0, 0, -1), (16, 20))]
    for k, (row, col, shape) in enumerate(planes):
        write(folder, 'loc_%d.dcm' % k, grid(shape[0], shape[1], 10 * k), study=study, series=series, row=row, col=col,
              position=(-8, -8, 0), instance=k + 1, acq_time=39000.0, series_number=1, description='Localizer')


def oblique4d(folder):
    # 3 time points of 5 oblique slices, 12 rows by 14 columns, echo time 10 ms;
    # stored value x + 2y + 50z + 400t.
    r = rotation(0.15, 0.25, -0.2)
    row, col, normal = r[:, 0], r[:, 1], r[:, 2]
    study, series = generate_uid(), generate_uid()
    for t in range(3):
        for z in range(5):
            write(folder, 'obl_%d_%02d.dcm' % (t, z), grid(12, 14, 50 * z + 400 * t), study=study, series=series,
                  position=np.array([10.0, -4.5, 22.0]) + normal * 2.0 * z, row=row, col=col, spacing=(0.9, 1.1),
                  thickness=2.0, instance=t * 5 + z + 1, acq_time=41000.0 + 4 * t, description='Oblique dynamic',
                  extra={'TemporalPositionIdentifier': t + 1, 'EchoTime': 10.0})


def mosaic(folder):
    # 2 time points of one 24 x 24 mosaic holding 7 tiles of 8 x 8 (a 3 x 3 grid, two tiles empty);
    # tile k holds 10k + x + 2y + 100t; the tile count stands in the vendor's private element.
    study, series = generate_uid(), generate_uid()
    for t in range(2):
        image = np.zeros((24, 24), dtype=np.int64)
        for k in range(7):
            y0, x0 = 8 * (k // 3), 8 * (k % 3)
            image[y0:y0 + 8, x0:x0 + 8] = grid(8, 8, 10 * k + 100 * t)
        path = os.path.join(folder, 'mosaic_%d.dcm' % t)
        write(folder, 'mosaic_%d.dcm' % t, image, study=study, series=series, position=(-12, -12, 0),
              spacing=(2.0, 2.0), thickness=3.0, instance=t + 1, acq_time=40000.0 + 2 * t, description='fMRI mosaic',
              extra={'TemporalPositionIdentifier': t + 1})
        ds = pydicom.dcmread(path)
        block = ds.private_block(0x0019, 'SIEMENS MR HEADER', create=True)
        block.add_new(0x0A, 'US', 7)
        ds.save_as(path, write_like_original=False)


if __name__ == '__main__':
    kind, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    globals()[kind](out)
