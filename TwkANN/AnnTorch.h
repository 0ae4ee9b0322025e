#pragma once
// Inside the network library, with the tensor library: the device of a run, seeding, model
// archives, the shared training helpers and the two-task parallel step. Only the library's own
// .cpp files that run networks include this header (it brings in <torch/torch.h>).

#include <torch/torch.h>

#include <functional>
#include <memory>
#include <sstream>
#include <utility>

#include "AnnLib.h"

// ---------------------------------------------------------------------------------------------
// Device, seeds, archives
// ---------------------------------------------------------------------------------------------

// The device of one run: the CPU. With useGpu set the user is asked "CUDA is not available.\n
// Proceed anyway?" (this build has no CUDA): Yes gives the CPU, No null (no further message).
// A new device value owned by the caller, or null.
torch::Device* ANN_ChooseDevice(bool useGpu);
// Seeds the tensor library's default generator with 1234.
void ANN_SeedGenerators();

// Writes every parameter and buffer of the module under its registered names into a model
// archive (the tensor library's own zip container); throws on failure.
void ANN_SaveModule(const torch::nn::Module& module, const wchar_t* path);
// Loads an archive into the module: every parameter and buffer must be present with the module's
// shape and element type, and the archive must hold nothing else; throws otherwise (the names of
// the first disagreement in the text).
void ANN_LoadModuleStrict(torch::nn::Module& module, const wchar_t* path);

// Parameters (element count over all parameters, sub-modules included).
int64_t ANN_ParameterCount(const torch::nn::Module& module);
// Sets the gradients of every parameter of the optimiser to none (undefined).
void ANN_ClearGradients(torch::optim::Optimizer& optimizer);
void ANN_SetLearningRate(torch::optim::Optimizer& optimizer, double lr);
double ANN_LearningRate(const torch::optim::Optimizer& optimizer);

// ---------------------------------------------------------------------------------------------
// Shared training helpers
// ---------------------------------------------------------------------------------------------

// The four per-class loss tensors of the BRUNET2D loss ([1, n] doubles on the run's device):
// normalised weights, false-positive and false-negative coefficients, exponents. Library-wide for
// the run that made them; empty between runs.
struct ANN_ClassLossTensors {
  torch::Tensor w, a, b, g;
};
ANN_ClassLossTensors& ANN_ClassLoss();
// Builds them from n records; false for n outside 1..256, a null table or a weight sum that is not
// positive (nothing is kept then).
bool ANN_MakeClassLossTables(const ANNCLASSLOSS* table, int n, const torch::Device& device);
void ANN_ReleaseClassLossTables();
// Cross-entropy class weights scaled to average 1 (ones without weights), float when typeCode is
// 6, else double. An undefined tensor for n outside 1..256 or a weight sum that is not positive.
torch::Tensor ANN_MakeClassWeights(const float* weights, int n, const torch::Device& device, int typeCode);

// An in-memory snapshot of a module and its optimiser ("model" and "optimizer" archives).
std::unique_ptr<std::stringstream> ANN_SaveSnapshot(torch::nn::Module& model, torch::optim::Optimizer& optimizer);
// Rewinds the stream and loads both back; may be called any number of times.
void ANN_RestoreSnapshot(std::stringstream& stream, torch::nn::Module& model, torch::optim::Optimizer& optimizer);

// Soft Dice of the foreground channel of soft-max(logits) against a target: (1 - dice, dice).
std::pair<torch::Tensor, torch::Tensor> ANN_SoftDiceLoss(const torch::Tensor& logits, const torch::Tensor& target);
// Mean hard Dice of a network over n 3D samples (d1 x d2 x d3 elements of storageType each),
// staged one at a time through the two buffers; forward takes [1, 1, d3, d2, d1]. A sample with
// an empty prediction and label, and an empty set, give not-a-number.
double ANN_BatchDice(const std::function<torch::Tensor(const torch::Tensor&)>& forward, const torch::Device& device,
                     torch::ScalarType type, int d1, int d2, int d3, int storageType, void* imageStage,
                     void* labelStage, void* const* images, void* const* labels, int64_t n);
// Glorot-uniform (gain 1) on every parameter of two or more dimensions.
void ANN_InitParamsXavier(torch::nn::Module& module);

// Runs the two tasks of a training step, concurrently when asked (one oneTBB parallel_invoke),
// else task 0 then task 1; both end before it returns. Messages raised by the tasks are shown
// after the join; an exception of either task is rethrown after the join.
void ANN_ParallelStep(const std::function<void()>& task0, const std::function<void()>& task1, bool concurrent);
