#!/usr/bin/python3
"""DICOM fixtures of the DICOM browser tests, written by pydicom, and the references the tests
compare with (pydicom's reading of the files, dcm2niix's volumes).

    dicom_fixtures.py make <root>              writes the folders below and <root>/images.tsv
    dicom_fixtures.py niix <folder> <out>      runs dcm2niix; <out>/dims.tsv: series number, W, H, D
    dicom_fixtures.py world <nii> <ours>       checks our voxels' world positions against the NIfTI
    dicom_fixtures.py diff <a> <b>             the tags whose top-level values differ
    dicom_fixtures.py values <file> <tag>...   the first value of each element, "-" when absent
    dicom_fixtures.py bvalue <file>...         the b-value (0018,9087) of each file, one a line
    dicom_fixtures.py study <file>...          per file: study instance UID, the sum of the pixels in their
                                               units (modality LUT applied), series and SOP instance UIDs
    dicom_fixtures.py folder <root> <n>        n copies of one small image in <root> (a large folder)
    dicom_fixtures.py dwinii <root> <n> [odd]  n 4x3x2 int16 NIfTI images (voxel x + 10 y + 100 z + 1000 t)
                                               and their b-values in <root>/dwi.bval; with odd the last
                                               image is 4x3x3
    dicom_fixtures.py pixbytes <file>...       the total length of the files' pixel data elements

Folders of make:
    tree/        two patients (a UTF-8 name and an ISO_IR 100 name): a 5 b-value x 10 slice series,
                 3 echoes x 6 slices, a series with a 1.02 mm gap, a composite series (in a second
                 study), an enhanced
                 multi-frame file, a signed CT (intercept -1024), a PET series; a truncated file and
                 a text file
    gap1005/     10 slices with one gap of 1.005 mm
    nopos/       4 slices without positions, slice thickness 2.5 mm
    nothick/     4 slices without positions and without thickness
    mrsigned/    a signed MR series whose minimum is -50
    dyn/         3 time points (a minute apart) x 4 slices
    tsl/         3 spin-lock times (image comments "TSL 10", "TSL 20", "TSL 40") x 4 slices
    ct/          the signed CT series alone
    nobits/      one image without Bits Allocated
    shortpix/    one image whose pixel data are cut short
"""
import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

MR = "1.2.840.10008.5.1.4.1.1.4"
ENHANCED_MR = "1.2.840.10008.5.1.4.1.1.4.1"
CT = "1.2.840.10008.5.1.4.1.1.2"
PT = "1.2.840.10008.5.1.4.1.1.128"

AXIAL = [1.0, 0.0, 0.0, 0.0, 1.0, 0.0]


def base(sop_class, modality, patient, study, series, number, description, charset="ISO_IR 192"):
    ds = Dataset()
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.ImplementationClassUID = "1.2.826.0.1.3680043.8.498.1"
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SpecificCharacterSet = charset
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = modality
    ds.PatientName = patient[0]
    ds.PatientID = patient[1]
    ds.PatientSex = patient[2]
    ds.PatientAge = "042Y"
    ds.StudyInstanceUID = study[0]
    ds.StudyDate = study[1]
    ds.StudyTime = "101500"
    ds.StudyDescription = study[2]
    ds.SeriesInstanceUID = series
    ds.SeriesNumber = number
    ds.SeriesDescription = description
    ds.ProtocolName = description
    ds.Manufacturer = "Tarnwick test"
    ds.ManufacturerModelName = "pydicom"
    ds.FrameOfReferenceUID = study[3]
    ds.SeriesDate = study[1]
    ds.SeriesTime = "101600"
    return ds


def pixels(ds, array, signed=False):
    array = np.asarray(array)
    ds.Rows, ds.Columns = array.shape[-2], array.shape[-1]
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 1 if signed else 0
    ds.PixelData = array.astype(np.int16 if signed else np.uint16).tobytes()


def place(ds, z, thickness=1.0, position=True, instance=1, time="102000.000000"):
    ds.ImageOrientationPatient = AXIAL
    ds.PixelSpacing = [0.75, 0.8]
    if thickness is not None:
        ds.SliceThickness = thickness
    if position:
        ds.ImagePositionPatient = [-6.0, -7.5, z]
        ds.SliceLocation = z
    ds.InstanceNumber = instance
    ds.AcquisitionTime = time
    ds.ContentTime = time


def image(seed, rows=16, cols=16):
    y, x = np.mgrid[0:rows, 0:cols]
    return (x * 7 + y * 13 + seed * 31) % 1000 + 10


def save(ds, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds.save_as(path, write_like_original=False)


def mr_series(folder, patient, study, number, description, slices, spacing=1.0, gaps=None, times=1, bvalues=None,
              echoes=None, comments=None, position=True, thickness=1.0, signed_min=None, size=(16, 16)):
    """One MR series: slices x time points (b-values, echoes or spin-lock comments)."""
    series = generate_uid()
    paths = []
    instance = 1
    points = len(bvalues or echoes or comments or [None] * times)
    for t in range(points):
        z = 0.0
        for k in range(slices):
            if k > 0:
                z += gaps.get(k, spacing) if gaps else spacing
            ds = base(MR, "MR", patient, study, series, number, description)
            ds.RepetitionTime = 3000
            ds.EchoTime = echoes[t] if echoes else 12
            ds.FlipAngle = 90
            ds.SequenceName = "ep_b" if bvalues else "se"
            if echoes:
                ds.EchoNumbers = t + 1
            if bvalues:
                ds.DiffusionBValue = bvalues[t]
            if comments:
                ds.ImageComments = comments[t]
            place(ds, z, thickness=thickness, position=position, instance=instance,
                  time="10%02d%02d.000000" % (20 + t, k))
            data = image(t * 100 + k, *size)
            if signed_min is not None:
                data = data - data.min() + signed_min
            pixels(ds, data, signed=signed_min is not None)
            path = os.path.join(folder, "%s_%03d.dcm" % (description, instance))
            save(ds, path)
            paths.append(path)
            instance += 1
    return paths


def ct_series(folder, patient, study, number, slices=8):
    series = generate_uid()
    for k in range(slices):
        ds = base(CT, "CT", patient, study, series, number, "Head CT", charset="ISO_IR 100")
        ds.KVP = 120
        ds.ExposureTime = 1000
        ds.XRayTubeCurrent = 200
        ds.ConvolutionKernel = "H30s"
        place(ds, -20.0 + 2.5 * k, thickness=2.5, instance=k + 1)
        ds.PixelSpacing = [0.5, 0.5]
        ds.RescaleIntercept = -1024
        ds.RescaleSlope = 1
        ds.RescaleType = "HU"
        data = (image(k) * 3) % 3000
        data[0, 0] = 0  # air: -1024 HU
        pixels(ds, data, signed=True)
        save(ds, os.path.join(folder, "CT_%03d.dcm" % (k + 1)))


def pt_series(folder, patient, study, number, slices=4):
    series = generate_uid()
    for k in range(slices):
        ds = base(PT, "PT", patient, study, series, number, "PET static", charset="ISO_IR 100")
        place(ds, 2.0 * k, thickness=2.0, instance=k + 1)
        ds.RescaleIntercept = 0
        ds.RescaleSlope = 0.5
        ds.Units = "BQML"
        ds.FrameReferenceTime = 1500
        ds.ActualFrameDuration = 300000
        pixels(ds, image(k, 8, 8))
        save(ds, os.path.join(folder, "PT_%03d.dcm" % (k + 1)))


def composite_series(folder, patient, study, number):
    series = generate_uid()
    for k, size in enumerate([(16, 16), (16, 16), (16, 16), (8, 8), (8, 8), (8, 8)]):
        ds = base(MR, "MR", patient, study, series, number, "Localizer")
        ds.EchoTime = 5
        place(ds, 1.5 * (k % 3), instance=k + 1)
        pixels(ds, image(k, *size))
        save(ds, os.path.join(folder, "LOC_%03d.dcm" % (k + 1)))


def enhanced_file(path, patient, study, number, frames=4):
    ds = base(ENHANCED_MR, "MR", patient, study, generate_uid(), number, "Enhanced")
    ds.ImageType = ["ORIGINAL", "PRIMARY", "M", "NONE"]
    ds.InstanceNumber = 1
    ds.ContentDate = study[1]
    ds.ContentTime = "103000"
    ds.AcquisitionDateTime = study[1] + "103000"
    ds.NumberOfFrames = frames
    shared = Dataset()
    measures = Dataset()
    measures.PixelSpacing = [0.75, 0.8]
    measures.SliceThickness = 2.0
    shared.PixelMeasuresSequence = Sequence([measures])
    orientation = Dataset()
    orientation.ImageOrientationPatient = AXIAL
    shared.PlaneOrientationSequence = Sequence([orientation])
    echo = Dataset()
    echo.EffectiveEchoTime = 15
    shared.MREchoSequence = Sequence([echo])
    ds.SharedFunctionalGroupsSequence = Sequence([shared])
    per = []
    for f in range(frames):
        item = Dataset()
        position = Dataset()
        position.ImagePositionPatient = [-6.0, -7.5, 2.0 * f]
        item.PlanePositionSequence = Sequence([position])
        content = Dataset()
        content.InStackPositionNumber = f + 1
        content.StackID = "1"
        item.FrameContentSequence = Sequence([content])
        per.append(item)
    ds.PerFrameFunctionalGroupsSequence = Sequence(per)
    pixels(ds, np.stack([image(50 + f, 16, 16) for f in range(frames)]))
    save(ds, path)


def make(root):
    if os.path.isdir(root):
        shutil.rmtree(root)
    tree = os.path.join(root, "tree")
    a = ("Müller^Jörg", "PAT-A", "F")
    b = ("Ørsted^Hans", "PAT-B", "M")
    study_a = (generate_uid(), "20230105", "Brain MRI", generate_uid())
    study_b = (generate_uid(), "20230210", "Head", generate_uid())
    mr_series(os.path.join(tree, "A", "dwi"), a, study_a, 2, "DWI", 10, bvalues=[0, 100, 200, 500, 800])
    mr_series(os.path.join(tree, "A", "me"), a, study_a, 3, "MultiEcho", 6, spacing=2.0, echoes=[10, 20, 30])
    mr_series(os.path.join(tree, "A", "gap"), a, study_a, 4, "Gap", 10, gaps={5: 1.02})
    study_a2 = (generate_uid(), "20230220", "Follow-up", generate_uid())
    composite_series(os.path.join(tree, "A", "loc"), a, study_a2, 5)
    enhanced_file(os.path.join(tree, "A", "enh", "enhanced.dcm"), a, study_a, 6)
    ct_series(os.path.join(tree, "B", "ct"), b, study_b, 7)
    pt_series(os.path.join(tree, "B", "pt"), b, study_b, 8)
    with open(os.path.join(tree, "B", "ct", "CT_001.dcm"), "rb") as f:
        whole = f.read()
    with open(os.path.join(tree, "truncated.dcm"), "wb") as f:
        f.write(whole[: len(whole) // 2])
    with open(os.path.join(tree, "notes.txt"), "w") as f:
        f.write("not a DICOM file\n")

    one = ("Test^One", "PAT-C", "O")
    study_c = (generate_uid(), "20230301", "Phantom", generate_uid())
    mr_series(os.path.join(root, "gap1005"), one, study_c, 11, "Gap1005", 10, gaps={5: 1.005})
    mr_series(os.path.join(root, "nopos"), one, study_c, 12, "NoPos", 4, position=False, thickness=2.5)
    mr_series(os.path.join(root, "nothick"), one, study_c, 13, "NoThick", 4, position=False, thickness=None)
    mr_series(os.path.join(root, "mrsigned"), one, study_c, 14, "Signed", 5, signed_min=-50)
    mr_series(os.path.join(root, "tsl"), one, study_c, 15, "SpinLock", 4, comments=["TSL 10", "TSL 20", "TSL 40"])
    ct_series(os.path.join(root, "ct"), b, study_b, 7)
    short = pydicom.dcmread(os.path.join(root, "gap1005", "Gap1005_003.dcm"))
    short.PixelData = short.PixelData[:200]
    save(short, os.path.join(root, "shortpix", "short.dcm"))
    mr_series(os.path.join(root, "dyn"), one, study_c, 17, "Dynamic", 4, times=3)
    nobits = base(MR, "MR", one, study_c, generate_uid(), 16, "NoBits")
    place(nobits, 0.0)
    pixels(nobits, image(1))
    del nobits.BitsAllocated
    nobits[0x7FE00010].VR = "OW"
    os.makedirs(os.path.join(root, "nobits"), exist_ok=True)
    nobits.save_as(os.path.join(root, "nobits", "nobits.dcm"), write_like_original=True)

    # pydicom's reading of every image of the tree, one line each.
    with open(os.path.join(root, "images.tsv"), "w", encoding="utf-8") as out:
        for folder, _, names in sorted(os.walk(tree)):
            for name in sorted(names):
                path = os.path.join(folder, name)
                if name == "truncated.dcm":
                    continue
                try:
                    ds = pydicom.dcmread(path)
                except Exception:
                    continue
                if int(getattr(ds, "NumberOfFrames", 1) or 1) > 1:
                    continue
                z = float(ds.ImagePositionPatient[2]) if "ImagePositionPatient" in ds else ""
                fields = [path, str(ds.PatientName), ds.SeriesInstanceUID, str(ds.SeriesNumber),
                          ds.SeriesDescription, ds.get("AcquisitionTime", ""), str(ds.get("EchoTime", "")),
                          str(ds.get("DiffusionBValue", "")), str(z), str(ds.Rows), str(ds.Columns),
                          str(ds.InstanceNumber)]
                out.write("\t".join(fields) + "\n")


def niix(folder, out):
    os.makedirs(out, exist_ok=True)
    subprocess.run(["dcm2niix", "-z", "n", "-b", "y", "-f", "%s_%e_%z", "-o", out, folder], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    import nibabel
    lines = []
    for name in sorted(os.listdir(out)):
        if not name.endswith(".nii"):
            continue
        with open(os.path.join(out, name[:-4] + ".json")) as f:
            number = json.load(f).get("SeriesNumber")
        shape = nibabel.load(os.path.join(out, name)).shape
        lines.append("%s\t%d\t%d\t%d\t%s\n" % (number, shape[0], shape[1], shape[2] if len(shape) > 2 else 1, name))
    with open(os.path.join(out, "dims.tsv"), "w") as f:
        f.writelines(lines)


def world(nii, ours):
    """ours: rows of x y z (LPS, mm) and the voxel's value. Every voxel of ours must fall on a voxel
    of the NIfTI (within 0.01 mm) holding the same value."""
    import nibabel
    image = nibabel.load(nii)
    data = np.asanyarray(image.dataobj)
    inverse = np.linalg.inv(image.affine)
    rows = np.loadtxt(ours, ndmin=2)
    worst = 0.0
    for x, y, z, value in rows:
        ras = np.array([-x, -y, z, 1.0])
        index = inverse @ ras
        nearest = np.round(index[:3])
        distance = np.linalg.norm((image.affine @ np.append(nearest, 1.0))[:3] - ras[:3])
        worst = max(worst, distance)
        i, j, k = (int(v) for v in nearest)
        if distance > 0.01 or data[i, j, k] != value:
            print("voxel at %g %g %g: %.4f mm off, value %g against %g" % (x, y, z, distance, value, data[i, j, k]))
            return 1
    print("worst %.6f mm" % worst)
    return 0


def diff(a, b):
    first, second = pydicom.dcmread(a), pydicom.dcmread(b)
    tags = set()
    for key in set(first.keys()) | set(second.keys()):
        if key == 0x7FE00010:
            continue
        if key not in first or key not in second or first[key].value != second[key].value:
            tags.add("(%04X,%04X)" % (key >> 16, key & 0xFFFF))
    print("\n".join(sorted(tags)))


def values(path, tags):
    ds = pydicom.dcmread(path)
    out = []
    for text in tags:
        tag = int(text, 16)
        if tag not in ds:
            out.append("-")
            continue
        value = ds[tag].value
        if isinstance(value, pydicom.multival.MultiValue):
            value = value[0] if len(value) else ""
        if isinstance(value, (int, float)) or ds[tag].VR in ("DS", "IS", "US", "SS", "UL", "SL", "FL", "FD"):
            value = "%.15g" % float(value)
        out.append(str(value))
    print("\t".join(out))


def main():
    command = sys.argv[1]
    if command == "make":
        make(sys.argv[2])
    elif command == "niix":
        niix(sys.argv[2], sys.argv[3])
    elif command == "world":
        return world(sys.argv[2], sys.argv[3])
    elif command == "diff":
        diff(sys.argv[2], sys.argv[3])
    elif command == "values":
        values(sys.argv[2], sys.argv[3:])
    elif command == "bvalue":
        for path in sys.argv[2:]:
            print("%g" % float(pydicom.dcmread(path).DiffusionBValue))
    elif command == "study":
        for path in sys.argv[2:]:
            ds = pydicom.dcmread(path)
            hu = ds.pixel_array.astype(np.float64) * float(ds.get("RescaleSlope", 1)) + float(ds.get("RescaleIntercept", 0))
            print("%s\t%.6f\t%s\t%s" % (ds.StudyInstanceUID, hu.sum(), ds.SeriesInstanceUID, ds.SOPInstanceUID))
    elif command == "folder":
        root, n = sys.argv[2], int(sys.argv[3])
        os.makedirs(root, exist_ok=True)
        series = generate_uid()
        study = (generate_uid(), "20230401", "Large", generate_uid())
        ds = base(MR, "MR", ("Large^Folder", "PAT-L", "O"), study, series, 1, "Large")
        place(ds, 0.0)
        pixels(ds, image(0, 8, 8))
        first = os.path.join(root, "IM%06d.dcm" % 0)
        save(ds, first)
        for i in range(1, n):
            shutil.copyfile(first, os.path.join(root, "IM%06d.dcm" % i))
    elif command == "dwinii":
        import nibabel as nib
        root, n = sys.argv[2], int(sys.argv[3])
        os.makedirs(root, exist_ok=True)
        for t in range(n):
            depth = 3 if len(sys.argv) > 4 and t == n - 1 else 2
            x, y, z = np.meshgrid(np.arange(4), np.arange(3), np.arange(depth), indexing="ij")
            data = (x + 10 * y + 100 * z + 1000 * t).astype(np.int16)
            nib.save(nib.Nifti1Image(data, np.diag([2.0, 2.0, 3.0, 1.0])), os.path.join(root, "dwi_%02d.nii.gz" % t))
        with open(os.path.join(root, "dwi.bval"), "w") as f:
            f.write(" ".join("%d" % (500 * t) for t in range(n)) + "\n")
    elif command == "pixbytes":
        print(sum(len(pydicom.dcmread(path).PixelData) for path in sys.argv[2:]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
