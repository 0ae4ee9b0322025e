"""Writes the seed files of the DICOM file fuzz target with pydicom and the DCMTK tools.

    python3 make_fuzz_seeds.py <folder>

Small images (8 x 8, 16 bits) in explicit and implicit VR little endian, big endian (dcmconv +tb),
RLE (dcmcrle), JPEG-LS (dcmcjpls), a classic multi-frame, an enhanced multi-frame with functional
groups, and a diffusion image with a b-value at the top level and in the Siemens private element.
Run once; the seeds are committed.
"""
import os
import subprocess
import sys

import numpy as np
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian

MR = '1.2.840.10008.5.1.4.1.1.4'
ENHANCED_MR = '1.2.840.10008.5.1.4.1.1.4.1'
STUDY, SERIES = '1.2.826.0.1.3680043.8.498.1', '1.2.826.0.1.3680043.8.498.2'


def base(path, sop, instance, implicit=False):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop
    meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.8.498.100.%d' % instance
    meta.TransferSyntaxUID = ImplicitVRLittleEndian if implicit else ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.SpecificCharacterSet = 'ISO_IR 100'
    ds.SOPClassUID = sop
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName, ds.PatientID, ds.PatientBirthDate, ds.PatientSex = 'Doe^Jane', 'P001', '19700101', 'F'
    ds.StudyInstanceUID, ds.SeriesInstanceUID = STUDY, SERIES
    ds.StudyDate, ds.StudyTime, ds.StudyDescription = '20240301', '101500', 'Research study'
    ds.SeriesDescription, ds.SeriesNumber, ds.InstanceNumber = 'Seed', 3, instance
    ds.Modality, ds.Manufacturer = 'MR', 'SIEMENS'
    ds.AcquisitionDate, ds.AcquisitionTime = '20240301', '101530.250000'
    ds.RepetitionTime, ds.EchoTime, ds.FlipAngle = 500.0, 12.5, 30.0
    ds.Rows, ds.Columns = 8, 8
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
    ds.RescaleSlope, ds.RescaleIntercept = 2, -10
    ds.is_little_endian, ds.is_implicit_VR = True, implicit
    return ds


def plane(ds, z):
    ds.ImagePositionPatient = [-4.0, -4.0, 2.5 * z]
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.PixelSpacing = [0.9, 1.1]
    ds.SliceThickness = 2.5


def pixels(frames=1, offset=0):
    y, x = np.mgrid[0:8, 0:8]
    return b''.join((offset + 100 * f + x + 8 * y).astype(np.uint16).tobytes() for f in range(frames))


def single(folder, name, implicit):
    path = os.path.join(folder, name)
    ds = base(path, MR, 1, implicit)
    plane(ds, 0)
    ds.PixelData = pixels()
    ds.save_as(path, write_like_original=False)
    return path


def diffusion(folder):
    path = os.path.join(folder, 'bvalue.dcm')
    ds = base(path, MR, 2)
    plane(ds, 1)
    ds.DiffusionBValue = 800.0
    block = ds.private_block(0x0019, 'SIEMENS MR HEADER', create=True)
    block.add_new(0x0C, 'IS', '800')
    ds.PixelData = pixels(offset=7)
    ds.save_as(path, write_like_original=False)


def classic_multiframe(folder):
    path = os.path.join(folder, 'multiframe.dcm')
    ds = base(path, MR, 3)
    plane(ds, 0)
    ds.NumberOfFrames = 3
    ds.PixelData = pixels(3)
    ds.save_as(path, write_like_original=False)


def enhanced_multiframe(folder):
    path = os.path.join(folder, 'enhanced.dcm')
    ds = base(path, ENHANCED_MR, 4)
    ds.NumberOfFrames = 2
    measures = Dataset()
    measures.PixelSpacing = [0.9, 1.1]
    measures.SliceThickness = 2.5
    orientation = Dataset()
    orientation.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    shared = Dataset()
    shared.PixelMeasuresSequence = Sequence([measures])
    shared.PlaneOrientationSequence = Sequence([orientation])
    ds.SharedFunctionalGroupsSequence = Sequence([shared])
    frames = []
    for z in range(2):
        position = Dataset()
        position.ImagePositionPatient = [-4.0, -4.0, 2.5 * z]
        diffusion = Dataset()
        diffusion.DiffusionBValue = 1000.0
        echo = Dataset()
        echo.EffectiveEchoTime = 12.5
        group = Dataset()
        group.PlanePositionSequence = Sequence([position])
        group.MRDiffusionSequence = Sequence([diffusion])
        group.MREchoSequence = Sequence([echo])
        frames.append(group)
    ds.PerFrameFunctionalGroupsSequence = Sequence(frames)
    ds.PixelData = pixels(2)
    ds.save_as(path, write_like_original=False)


if __name__ == '__main__':
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    single(out, 'explicit_le.dcm', False)
    implicit = single(out, 'implicit_le.dcm', True)
    subprocess.run(['dcmconv', '+tb', implicit, os.path.join(out, 'big_endian.dcm')], check=True)
    subprocess.run(['dcmcrle', implicit, os.path.join(out, 'rle.dcm')], check=True)
    subprocess.run(['dcmcjpls', implicit, os.path.join(out, 'jpeg_ls.dcm')], check=True)
    diffusion(out)
    classic_multiframe(out)
    enhanced_multiframe(out)
