"""Writes the DICOM series of the DICOM family's tests with pydicom.

    python3 make_series.py <kind> <folder>

Every series has distinct voxel values that the tests recompute: see value() below and the test's
expectations. Kinds: ct, mrgap, dwi, siemensdwi, privateblocks, dyn, small, patients, signed, localizer, mosaic,
mosaic3drev, mosaic4drev, enhanced, enhancedperframe, enhancedtime, dwitrace, j2k, colour, floatmap,
modlut, rtdose, unsupported, oblique4d, mosaictiles; the benchmarks' benchmosaic and benchenhanced.
"""
import json
import os
import struct
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.encaps import encapsulate
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian, generate_uid

MR = '1.2.840.10008.5.1.4.1.1.4'
CT = '1.2.840.10008.5.1.4.1.1.2'
ENHANCED_MR = '1.2.840.10008.5.1.4.1.1.4.1'
PARAMETRIC_MAP = '1.2.840.10008.5.1.4.1.1.30'
RT_DOSE = '1.2.840.10008.5.1.4.1.1.481.2'
SECONDARY = '1.2.840.10008.5.1.4.1.1.7'


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


def privateblocks(folder):
    # Two single images whose private b-value stands in the second private block of group 0019:
    # after another vendor's block (Siemens' (0019,xx0C) = 1000), and after a Siemens block that an
    # other vendor's (0019,xxB0) must pass over (450).
    for name, blocks in (('second_siemens.dcm', [('GEMS_ACQU_01', 0x0C, 'IS', '5'), ('SIEMENS MR HEADER', 0x0C, 'IS', '1000')]),
                         ('after_siemens.dcm', [('SIEMENS MR HEADER', 0xB0, 'DS', '77'), ('HITACHI MEDICAL', 0xB0, 'DS', '450')])):
        path = os.path.join(folder, name)
        write(folder, name, grid(4, 4, 0), study=generate_uid(), series=generate_uid(), description=name)
        ds = pydicom.dcmread(path)
        for creator, offset, vr, value in blocks:
            ds.private_block(0x0019, creator, create=True).add_new(offset, vr, value)
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



# ---- mosaics ----

def csa_header(entries):
    """A scanner's private image header: 'SV10', then named entries of text items."""
    out = b'SV10' + b'\x04\x03\x02\x01' + struct.pack('<II', len(entries), 77)
    for name, vr, values in entries:
        out += name.encode().ljust(64, b'\0') + struct.pack('<i', len(values)) + vr.encode().ljust(4, b'\0')
        out += struct.pack('<iii', 0, len(values), 77)
        for v in values:
            data = v.encode() + b'\0'
            out += struct.pack('<iiii', len(data), len(data), 77, len(data))
            out += data + b'\0' * ((4 - len(data) % 4) % 4)
    return out


def mosaic_series(folder, times, reverse, time_step=1000):
    # 35 oblique slices of 64 x 64 (3 mm pixels, 3.5 mm apart) tiled 6 x 6 in 384 x 384 images, one
    # image per time point. Tile k holds slice k at P0 + k * 3.5 * s, where s is the scanner's slice
    # normal: the orientation's normal, or (reverse) its opposite. Voxel x + 2y + 50k + time_step * t.
    r = rotation(0.3, -0.2, 0.25)
    row, col = r[:, 0], r[:, 1]
    normal = np.cross(row, col)
    s = -normal if reverse else normal
    p0 = np.array([-96.0, -88.5, 20.25])
    corner = p0 - row * (384 - 64) / 2 * 3.0 - col * (384 - 64) / 2 * 3.0
    study, series = generate_uid(), generate_uid()
    for t in range(times):
        image = np.zeros((384, 384), dtype=np.uint16)
        for k in range(35):
            y0, x0 = (k // 6) * 64, (k % 6) * 64
            image[y0:y0 + 64, x0:x0 + 64] = grid(64, 64, 50 * k + time_step * t)
        path = os.path.join(folder, 'mosaic_%03d.dcm' % t)
        write(folder, 'mosaic_%03d.dcm' % t, image, study=study, series=series, position=corner, row=row, col=col,
              spacing=(3.0, 3.0), thickness=3.5, instance=t + 1, acq_time=45000.0 + 2.0 * t, description='ep2d bold',
              extra={'Manufacturer': 'SIEMENS', 'ImageType': ['ORIGINAL', 'PRIMARY', 'M', 'ND', 'MOSAIC'],
                     'SpacingBetweenSlices': 3.5, 'RepetitionTime': 2000, 'EchoTime': 30,
                     'AcquisitionMatrix': [64, 0, 0, 64], 'InPlanePhaseEncodingDirection': 'COL'})
        ds = pydicom.dcmread(path)
        block = ds.private_block(0x0019, 'SIEMENS MR HEADER', create=True)
        block.add_new(0x0A, 'US', 35)
        csa = ds.private_block(0x0029, 'SIEMENS CSA HEADER', create=True)
        csa.add_new(0x10, 'OB', csa_header([
            ('NumberOfImagesInMosaic', 'US', ['35']),
            ('SliceNormalVector', 'FD', ['%.8f' % v for v in s]),
            ('MosaicRefAcqTimes', 'FD', ['%.4f' % (57.0 * k) for k in range(35)]),
        ]))
        csa.add_new(0x20, 'OB', csa_header([('NumberOfImagesInMosaic', 'US', ['35'])]))
        ds.save_as(path, write_like_original=False)


def mosaic(folder):
    mosaic_series(folder, 3, False)


def mosaic3drev(folder):
    mosaic_series(folder, 1, True)


def mosaic4drev(folder):
    mosaic_series(folder, 3, True)


def benchmosaic(folder):
    # The benchmarks' functional series: 100 time points of the 35-slice mosaic.
    mosaic_series(folder, 100, False, time_step=7)


# ---- enhanced multi-frame ----

def enhanced_file(path, frames, *, shared_geometry, private_shift=None, rows=20, cols=24, top_datetime=None):
    """frames: list of dicts with pos, pixels and optional content (TemporalPositionIndex, when ...)."""
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = ENHANCED_MR
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.SOPClassUID = ENHANCED_MR
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID = 'Doe^Jane', 'P001'
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.FrameOfReferenceUID = generate_uid()
    ds.StudyDate, ds.StudyTime = '20240301', '101500'
    ds.SeriesNumber, ds.InstanceNumber = 7, 1
    ds.SeriesDescription = 'Enhanced'
    ds.Modality, ds.Manufacturer = 'MR', 'Test'
    ds.ImageType = ['ORIGINAL', 'PRIMARY', 'M', 'NONE']
    if top_datetime:
        ds.AcquisitionDateTime = top_datetime
        ds.ContentDate, ds.ContentTime = top_datetime[:8], top_datetime[8:]
    ds.Rows, ds.Columns = rows, cols
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, 'MONOCHROME2'
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 0
    ds.NumberOfFrames = len(frames)
    r = rotation(0.1, 0.25, -0.15)
    orient = [float('%.8f' % v) for v in list(r[:, 0]) + list(r[:, 1])]

    def measures():
        m = Dataset()
        m.PixelSpacing = [1.25, 1.5]
        m.SliceThickness = 2.0
        return Sequence([m])

    def orientation():
        o = Dataset()
        o.ImageOrientationPatient = orient
        return Sequence([o])

    shared = Dataset()
    if shared_geometry:
        shared.PixelMeasuresSequence = measures()
        shared.PlaneOrientationSequence = orientation()
    ds.SharedFunctionalGroupsSequence = Sequence([shared])
    per = []
    for f in frames:
        item = Dataset()
        pp = Dataset()
        pp.ImagePositionPatient = [float('%.6f' % v) for v in f['pos']]
        item.PlanePositionSequence = Sequence([pp])
        if not shared_geometry:
            item.PixelMeasuresSequence = measures()
            item.PlaneOrientationSequence = orientation()
        if 'content' in f:
            c = Dataset()
            for k, v in f['content'].items():
                setattr(c, k, v)
            item.FrameContentSequence = Sequence([c])
        if private_shift is not None:
            # A vendor's private per-frame sequence with its own copy of the position.
            block = item.private_block(0x2005, 'ACME MR PRIVATE', create=True)
            copy = Dataset()
            copy.ImagePositionPatient = [float('%.6f' % v) for v in np.array(f['pos']) + private_shift]
            copy.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
            copy.PixelSpacing = [9.0, 9.0]
            block.add_new(0x0F, 'SQ', Sequence([copy]))
        per.append(item)
    ds.PerFrameFunctionalGroupsSequence = Sequence(per)
    ds.PixelData = b''.join(f['pixels'].astype(np.uint16).tobytes() for f in frames)
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)
    return r


def enhanced_geometry(folder, shared_geometry):
    # 8 frames, slices 2.0 mm apart along the normal from (10, -20, 30), stored in the order 3, 0, 6, ...;
    # voxel x + 2y + 100z. The private copies of the positions are 2.5 mm off along x.
    r = rotation(0.1, 0.25, -0.15)
    normal = np.cross(r[:, 0], r[:, 1])
    order = [3, 0, 6, 1, 7, 2, 5, 4]
    frames = [{'pos': np.array([10.0, -20.0, 30.0]) + normal * 2.0 * z, 'pixels': grid(20, 24, 100 * z)} for z in order]
    enhanced_file(os.path.join(folder, 'enhanced.dcm'), frames, shared_geometry=shared_geometry,
                  private_shift=np.array([2.5, 0.0, 0.0]))


def enhanced(folder):
    enhanced_geometry(folder, True)


def enhancedperframe(folder):
    enhanced_geometry(folder, False)


def enhancedtime(folder):
    # 4 slices x 6 time points stored out of time order; the frames share the file's acquisition
    # date and time at the top level, while each frame's Frame Content gives its temporal position
    # index (1..6) and acquisition date and time (0, 0, 127.5, 127.5, 255, 255 s after 10:00).
    # Voxel x + 2y + 10z + 1000t.
    r = rotation(0.1, 0.25, -0.15)
    normal = np.cross(r[:, 0], r[:, 1])
    frames = []
    seconds = [0, 0, 127.5, 127.5, 255, 255]
    rng = np.random.RandomState(5)
    pairs = [(t, z) for t in range(6) for z in range(4)]
    for i in rng.permutation(len(pairs)):
        t, z = pairs[i]
        when = 36000 + seconds[t]
        stamp = '20240301%02d%02d%09.6f' % (when // 3600, (when % 3600) // 60, when % 60)
        frames.append({'pos': np.array([0.0, 0.0, 0.0]) + normal * 3.0 * z, 'pixels': grid(20, 24, 10 * z + 1000 * t),
                       'content': {'TemporalPositionIndex': t + 1, 'FrameAcquisitionDateTime': stamp,
                                   'InStackPositionNumber': z + 1, 'DimensionIndexValues': [1, z + 1, t + 1]}})
    enhanced_file(os.path.join(folder, 'asl.dcm'), frames, shared_geometry=True, top_datetime='20240301100000')


def benchenhanced(folder):
    # The benchmarks' enhanced file: 300 frames of 256 x 256 (60 slices x 5 time points) stored in
    # random order, each with its Frame Content.
    r = rotation(0.1, 0.25, -0.15)
    normal = np.cross(r[:, 0], r[:, 1])
    rng = np.random.RandomState(11)
    pairs = [(t, z) for t in range(5) for z in range(60)]
    frames = []
    for i in rng.permutation(len(pairs)):
        t, z = pairs[i]
        when = 36000 + 30 * t
        stamp = '20240301%02d%02d%09.6f' % (when // 3600, (when % 3600) // 60, when % 60)
        frames.append({'pos': normal * 2.0 * z, 'pixels': grid(256, 256, 10 * z + 700 * t),
                       'content': {'TemporalPositionIndex': t + 1, 'FrameAcquisitionDateTime': stamp,
                                   'InStackPositionNumber': z + 1, 'DimensionIndexValues': [1, z + 1, t + 1]}})
    enhanced_file(os.path.join(folder, 'enhanced.dcm'), frames, shared_geometry=True, rows=256, cols=256,
                  top_datetime='20240301100000')


# ---- diffusion with derived images ----

def dwitrace(folder):
    # 3 slices; b = 0 and b = 1000 along 4 gradient directions, then the scanner's trace image
    # (b = 1000, no direction, TRACEW) and an ADC map (DERIVED ... ADC). Voxel x + 2y + 10z + 100v,
    # v the volume's number (0..4 acquired, 5 trace, 6 ADC).
    study, series = generate_uid(), generate_uid()
    directions = [(1, 0, 0), (0, 1, 0), (0, 0, 1), (0.6, 0.8, 0)]
    volumes = [(0.0, None, 'ORIGINAL')] + [(1000.0, d, 'ORIGINAL') for d in directions] + \
              [(1000.0, None, 'TRACEW'), (None, None, 'ADC')]
    for v, (bval, direction, kind) in enumerate(volumes):
        for z in range(3):
            extra = {'Manufacturer': 'Test'}
            if kind == 'ORIGINAL':
                extra['ImageType'] = ['ORIGINAL', 'PRIMARY', 'DIFFUSION', 'NONE']
            else:
                extra['ImageType'] = ['DERIVED', 'PRIMARY', 'DIFFUSION', kind]
            if bval is not None:
                extra['DiffusionBValue'] = bval
            if direction is not None:
                extra['DiffusionGradientOrientation'] = list(direction)
            write(folder, 'dwi_%d_%d.dcm' % (v, z), grid(12, 14, 10 * z + 100 * v), study=study, series=series,
                  position=(0, 0, 4.0 * z), thickness=4.0, instance=v * 3 + z + 1, acq_time=41000.0,
                  description='DWI trace', extra=extra)


# ---- JPEG 2000 ----

def j2k(folder):
    # The same 3 slices of 64 x 64 unsigned 12-bit values (and a signed CT slice set) stored plain,
    # as JPEG 2000 lossless and lossy, and as high-throughput JPEG 2000 lossless and lossy, one
    # subfolder each; codestreams made by opj_compress and grk_compress. The lossy codestreams and
    # their opj_decompress output are kept beside (work/*.j2k, *_dec.rawl, little endian).
    from pydicom._uid_dict import UID_dictionary
    UID_dictionary.setdefault('1.2.840.10008.1.2.4.201', ('High-Throughput JPEG 2000 Image Compression (Lossless Only)',
                                                          'Transfer Syntax', '', '', 'HTJ2KLossless'))
    UID_dictionary.setdefault('1.2.840.10008.1.2.4.203', ('High-Throughput JPEG 2000 Image Compression',
                                                          'Transfer Syntax', '', '', 'HTJ2K'))
    work = os.path.join(folder, 'work')
    os.makedirs(work, exist_ok=True)
    y, x = np.mgrid[0:64, 0:64]
    kinds = {
        'plain': None,
        'lossless': ('1.2.840.10008.1.2.4.90', ['opj_compress', '-n', '4']),
        'lossy': ('1.2.840.10008.1.2.4.91', ['opj_compress', '-n', '4', '-I', '-r', '20']),
        'htlossless': ('1.2.840.10008.1.2.4.201', ['grk_compress', '-n', '4', '-M', '64']),
        'htlossy': ('1.2.840.10008.1.2.4.203', ['grk_compress', '-n', '4', '-M', '64', '-I', '-r', '20']),
    }
    study = generate_uid()
    for signed in (False, True):
        series = generate_uid()
        for z in range(3):
            if signed:
                noise = np.random.RandomState(z).randint(-60, 60, size=(64, 64))
                values = (((x * 37 + y * 11 + z * 101) % 3000) - 1500 + noise).astype(np.int16)
            else:
                values = ((x * 53 + y * 29 + z * 311 + (x * y) % 17) % 4096).astype(np.uint16)
            # The samples big-endian: raw for opj_compress (its format given by -F), PGX for
            # grk_compress, which reads the sign of raw input wrongly.
            samples = values.astype('>i2' if signed else '>u2').tobytes()
            inputs = {'opj_compress': os.path.join(work, 'v%d_%d.raw' % (signed, z)),
                      'grk_compress': os.path.join(work, 'v%d_%d.pgx' % (signed, z))}
            with open(inputs['opj_compress'], 'wb') as f:
                f.write(samples)
            with open(inputs['grk_compress'], 'wb') as f:
                f.write(b'PG ML %s 16 64 64\n' % (b'-' if signed else b'+') + samples)
            for kind, codec in kinds.items():
                sub = os.path.join(folder, ('s' if signed else 'u') + kind)
                os.makedirs(sub, exist_ok=True)
                name = 'img_%d.dcm' % z
                extra = {'RescaleSlope': 1, 'RescaleIntercept': 0} if signed else {}
                if codec is None:
                    write(sub, name, values, study=study, series=series + '.%d' % signed, modality='CT' if signed else 'MR',
                          sop=CT if signed else MR, position=(0, 0, 2.0 * z), spacing=(0.5, 0.5), thickness=2.0,
                          instance=z + 1, acq_time=36000.0, description='J2K', signed=signed, extra=extra)
                    continue
                uid, command = codec
                stream = os.path.join(work, '%s_%d_%d.j2k' % (kind, signed, z))
                source = inputs[command[0]]
                raw_format = ['-F', '64,64,1,16,%s' % ('s' if signed else 'u')] if source.endswith('.raw') else []
                subprocess.run(command + ['-i', source, '-o', stream] + raw_format, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                decoded = os.path.join(work, '%s_%d_%d_dec.rawl' % (kind, signed, z))
                subprocess.run(['opj_decompress', '-i', stream, '-o', decoded], check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                write(sub, name, values, study=study, series=series + '.%d' % signed, modality='CT' if signed else 'MR',
                      sop=CT if signed else MR, position=(0, 0, 2.0 * z), spacing=(0.5, 0.5), thickness=2.0,
                      instance=z + 1, acq_time=36000.0, description='J2K', signed=signed, extra=extra)
                path = os.path.join(sub, name)
                ds = pydicom.dcmread(path)
                ds.file_meta.TransferSyntaxUID = uid
                ds.PixelData = encapsulate([open(stream, 'rb').read()])
                if 'lossy' in kind:
                    ds.LossyImageCompression = '01'
                ds.is_little_endian, ds.is_implicit_VR = True, False
                ds.save_as(path, write_like_original=False)


# ---- colour ----

def colour(folder):
    # One 6 x 8 image of 8-bit RGB, its YBR_FULL_422 form and its YBR_FULL form (Y = 0.299R + 0.587G
    # + 0.114B, Cb and Cr of pixel pairs averaged), and a PALETTE COLOR image; a JSON file beside
    # gives the luminance the tests expect.
    rng = np.random.RandomState(3)
    rgb = rng.randint(0, 256, size=(6, 8, 3)).astype(np.float64)
    yy = 0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2]
    cb = -0.168736 * rgb[..., 0] - 0.331264 * rgb[..., 1] + 0.5 * rgb[..., 2] + 128
    cr = 0.5 * rgb[..., 0] - 0.418688 * rgb[..., 1] - 0.081312 * rgb[..., 2] + 128
    ybr = np.clip(np.round(np.stack([yy, cb, cr], -1)), 0, 255).astype(np.uint8)
    study = generate_uid()

    def colour_file(name, photometric, data, sub):
        path = os.path.join(folder, sub)
        os.makedirs(path, exist_ok=True)
        write(path, name, np.zeros((6, 8)), study=study, series=generate_uid(), position=(0, 0, 0),
              description=photometric, acq_time=36000.0)
        full = os.path.join(path, name)
        ds = pydicom.dcmread(full)
        ds.SamplesPerPixel = 3
        ds.PhotometricInterpretation = photometric
        ds.PlanarConfiguration = 0
        ds.BitsAllocated, ds.BitsStored, ds.HighBit = 8, 8, 7
        ds.PixelData = data
        ds.save_as(full, write_like_original=False)

    colour_file('rgb.dcm', 'RGB', rgb.astype(np.uint8).tobytes(), 'rgb')
    colour_file('ybr.dcm', 'YBR_FULL', ybr.tobytes(), 'ybrfull')
    packed = bytearray()
    for r in range(6):
        for c in range(0, 8, 2):
            a, b = ybr[r, c].astype(int), ybr[r, c + 1].astype(int)
            packed += bytes([a[0], b[0], (a[1] + b[1] + 1) // 2, (a[2] + b[2] + 1) // 2])
    colour_file('ybr422.dcm', 'YBR_FULL_422', bytes(packed), 'ybr422')
    path = os.path.join(folder, 'palette')
    os.makedirs(path, exist_ok=True)
    write(path, 'palette.dcm', grid(6, 8, 0), study=study, series=generate_uid(), position=(0, 0, 0),
          description='Palette', acq_time=36000.0)
    full = os.path.join(path, 'palette.dcm')
    ds = pydicom.dcmread(full)
    ds.PhotometricInterpretation = 'PALETTE COLOR'
    ds.save_as(full, write_like_original=False)
    # The luminance of the RGB image, then the Y of the YCbCr images.
    luminance = [np.round(0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2]).astype(int).tolist(),
                 ybr[..., 0].astype(int).tolist()]
    with open(os.path.join(folder, 'luminance.json'), 'w') as f:
        json.dump(luminance, f)


# ---- float pixel data ----

def float_file(path, values, sop, double):
    frames, rows, cols = values.shape
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.SOPClassUID, ds.SOPInstanceUID = sop, meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID = 'Doe^Jane', 'P001'
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.FrameOfReferenceUID = generate_uid()
    ds.StudyDate, ds.SeriesNumber, ds.InstanceNumber = '20240301', 9, 1
    ds.Modality, ds.SeriesDescription = 'MR', 'T1 map'
    ds.ContentDate, ds.ContentTime = '20240301', '120000'
    ds.ImageType = ['DERIVED', 'PRIMARY']
    ds.Rows, ds.Columns, ds.NumberOfFrames = rows, cols, frames
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, 'MONOCHROME2'
    ds.BitsAllocated = 64 if double else 32
    shared = Dataset()
    m = Dataset()
    m.PixelSpacing, m.SliceThickness = [1.0, 1.0], 5.0
    o = Dataset()
    o.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    shared.PixelMeasuresSequence, shared.PlaneOrientationSequence = Sequence([m]), Sequence([o])
    ds.SharedFunctionalGroupsSequence = Sequence([shared])
    per = []
    for z in range(frames):
        item = Dataset()
        p = Dataset()
        p.ImagePositionPatient = [-5.0, -3.0, 5.0 * z]
        item.PlanePositionSequence = Sequence([p])
        per.append(item)
    ds.PerFrameFunctionalGroupsSequence = Sequence(per)
    if double:
        ds.DoubleFloatPixelData = values.astype('<f8').tobytes()
    else:
        ds.FloatPixelData = values.astype('<f4').tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


def floatmap(folder):
    # A parametric map of 4 frames of 6 x 10 float values (x * 0.25 - y * 1.5 + z * 100.125 - 7.3)
    # and the same map as double float values, in subfolders f32 and f64.
    z, y, x = np.mgrid[0:4, 0:6, 0:10]
    values = x * 0.25 - y * 1.5 + z * 100.125 - 7.3
    for sub, double in (('f32', False), ('f64', True)):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        float_file(os.path.join(folder, sub, 'map.dcm'), values, PARAMETRIC_MAP, double)


# ---- Modality LUT ----

def modlut(folder):
    # 2 CT slices of 10 x 12 stored values 0..4095 mapped by a Modality LUT of 4096 entries starting
    # at stored value 100 (entry k = (k * 7) % 3001); no rescale. pydicom's apply_modality_lut gives
    # the expected values (saved beside as expected.json).
    from pydicom.pixel_data_handlers.util import apply_modality_lut
    study, series = generate_uid(), generate_uid()
    expected = []
    for z in range(2):
        values = ((np.mgrid[0:10, 0:12][1] * 331 + np.mgrid[0:10, 0:12][0] * 97 + z * 13) % 4096).astype(np.uint16)
        write(folder, 'lut_%d.dcm' % z, values, study=study, series=series, modality='CT', sop=CT,
              position=(0, 0, 1.5 * z), thickness=1.5, instance=z + 1, acq_time=36000.0, description='LUT')
        path = os.path.join(folder, 'lut_%d.dcm' % z)
        ds = pydicom.dcmread(path)
        item = Dataset()
        item.LUTDescriptor = [4096, 100, 16]
        item.ModalityLUTType = 'HU'
        item.LUTData = [(k * 7) % 3001 for k in range(4096)]
        item['LUTData'].VR = 'US'
        ds.ModalityLUTSequence = Sequence([item])
        ds.save_as(path, write_like_original=False)
        ds = pydicom.dcmread(path)
        expected.append(apply_modality_lut(ds.pixel_array, ds).astype(int).tolist())
    with open(os.path.join(folder, 'expected.json'), 'w') as f:
        json.dump(expected, f)


# ---- RT dose ----

def rtdose(folder):
    # A dose grid of 15 planes of 8 x 6 (rows 2.5 mm, columns 3 mm apart) at relative offsets
    # 0, 2.5, ... 35 mm from (-10, -7.5, -20); stored 32-bit x + 10y + 100z + 7, Dose Grid Scaling
    # 0.000125 Gy.
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = RT_DOSE
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    path = os.path.join(folder, 'dose.dcm')
    ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.SOPClassUID, ds.SOPInstanceUID = RT_DOSE, meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID = 'Doe^Jane', 'P001'
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.FrameOfReferenceUID = generate_uid()
    ds.StudyDate, ds.SeriesNumber, ds.InstanceNumber = '20240301', 11, 1
    ds.Modality = 'RTDOSE'
    ds.Rows, ds.Columns, ds.NumberOfFrames = 8, 6, 15
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, 'MONOCHROME2'
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 32, 32, 31, 0
    ds.ImagePositionPatient = [-10.0, -7.5, -20.0]
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.PixelSpacing = [2.5, 3.0]
    ds.SliceThickness = ''
    ds.GridFrameOffsetVector = [2.5 * k for k in range(15)]
    ds.FrameIncrementPointer = 0x3004000C
    ds.DoseUnits, ds.DoseType, ds.DoseSummationType = 'GY', 'PHYSICAL', 'PLAN'
    ds.DoseGridScaling = 0.000125
    z, y, x = np.mgrid[0:15, 0:8, 0:6]
    ds.PixelData = (x + 10 * y + 100 * z + 7).astype('<u4').tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


# ---- a transfer syntax nobody reads here ----

def unsupported(folder):
    # Two slices of a plain series, the second rewritten with a private transfer syntax UID.
    study, series = generate_uid(), generate_uid()
    for z in range(2):
        write(folder, 'u_%d.dcm' % z, grid(8, 8, z), study=study, series=series, position=(0, 0, 2.0 * z),
              instance=z + 1, acq_time=36000.0, description='Odd syntax')
    path = os.path.join(folder, 'u_1.dcm')
    ds = pydicom.dcmread(path)
    from pydicom._uid_dict import UID_dictionary
    UID_dictionary.setdefault('1.2.3.4.5.6.7.8.9', ('Private Syntax', 'Transfer Syntax', '', '', 'PrivateSyntax'))
    ds.file_meta.TransferSyntaxUID = '1.2.3.4.5.6.7.8.9'
    ds.PixelData = encapsulate([b'\xff\x00' * 32])
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)




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


def mosaictiles(folder):
    # 2 time points of one 24 x 24 mosaic holding 7 tiles of 8 x 8 (a 3 x 3 grid, two tiles empty);
    # tile k holds 10k + x + 2y + 100t; the tile count stands in the vendor's private element.
    study, series = generate_uid(), generate_uid()
    for t in range(2):
        image = np.zeros((24, 24), dtype=np.int64)
        for k in range(7):
            y0, x0 = 8 * (k // 3), 8 * (k % 3)
            image[y0:y0 + 8, x0:x0 + 8] = grid(8, 8, 10 * k + 100 * t)
        path = os.path.join(folder, 'tiles_%d.dcm' % t)
        write(folder, 'tiles_%d.dcm' % t, image, study=study, series=series, position=(-12, -12, 0),
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
